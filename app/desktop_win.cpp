#include "desktop.h"

#include <wx/stdpaths.h>

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

namespace desktop {

namespace {
// The program the user associated with .pdf does the work ("open", "print" verbs).
bool ShellVerb(const wchar_t* verb, const wxString& path) {
    const HINSTANCE result =
        ShellExecuteW(nullptr, verb, path.wc_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}
} // namespace

bool OpenDocument(const wxString& absolute) {
    return ShellVerb(L"open", absolute);
}

bool PrintDocument(const wxString& path) {
    return ShellVerb(L"print", path);
}

void TakeOverProgramPath(const wxString& oldPath) {
    // The installer's Start-menu entry names the old file. A running program may be renamed
    // though not deleted; never over a file that is still there.
    const wxString self = wxStandardPaths::Get().GetExecutablePath();
    if (!self.IsSameAs(oldPath, false))
        MoveFileExW(self.wc_str(), oldPath.wc_str(), 0);
}

wxString DefaultDownloadFolder() {
    // Started from the Start menu the working folder is the program's own; the user's
    // Downloads known folder is where a browser would have put the files.
    return wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Downloads);
}

} // namespace desktop
