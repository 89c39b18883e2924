; The Windows installer: a per-user install under %LOCALAPPDATA%\Programs\Quorvane (writable
; by the program's own update), a Start-menu entry and an uninstaller. No administrator
; rights. "/S" installs silently.
;
; makensis -DVERSION=2.NN -DBINDIR=<folder of the .exe files> -DICON=<quorvane.ico>
;          -DOUTFILE=<Quorvane-2.NN-setup.exe> quorvane.nsi

; A 64-bit installer for the 64-bit program: it runs where the program does (and under
; wine64 alone).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP "Quorvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "FileDescription" "${APP} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "The Quorvane developers"
VIAddVersionKey "LegalCopyright" "The Quorvane developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${BINDIR}\quorvane.exe"
    File "${BINDIR}\quorvane-get.exe"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; Started from the menu, the program opens in the user's Downloads folder until another
    ; download folder is chosen.
    CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\quorvane.exe" "" "$INSTDIR\quorvane.exe" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Quorvane developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvane.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$INSTDIR\quorvane.exe"
    Delete "$INSTDIR\quorvane-get.exe"
    ; Versions the program's update put beside it.
    Delete "$INSTDIR\Quorvane-2.*.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; The settings (HKCU\Software\Quorvane) stay for a later install, as on Linux.
SectionEnd
