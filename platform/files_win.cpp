#include "files.h"

#include <wx/dir.h>
#include <wx/filename.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

namespace platform {

const char* const kProgramSuffix = ".exe";

int CreateNewFile(const wxString& path) {
    // Binary: a PDF's line ends are its own. Not inherited: a started viewer must not hold
    // the half-written file open.
    int fd = -1;
    const errno_t err =
        _wsopen_s(&fd, path.wc_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (err != 0) {
        errno = err;
        return -1;
    }
    return fd;
}

void StartWriteBack(int, int64_t, int64_t) {
    // Windows writes back on its own; there is no call to start it early.
}

bool SyncFile(int fd) {
    return _commit(fd) == 0;
}

bool CutFile(int fd, int64_t size) {
    return _chsize_s(fd, size) == 0 && _lseeki64(fd, size, SEEK_SET) == size;
}

bool MakeExecutable(int) {
    return true; // a .exe is a program by its name
}

int CreateTempBeside(const wxString& path, wxString* made) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const wxFileName dest(path);
        const wxString name =
            dest.GetPath() + "\\." + dest.GetFullName() +
            wxString::Format(".%lu.%u", GetCurrentProcessId(), unsigned(GetTickCount()) + attempt);
        const int fd = CreateNewFile(name);
        if (fd >= 0 || errno != EEXIST) {
            *made = name;
            return fd;
        }
    }
    return -1;
}

bool RenameOver(const wxString& from, const wxString& to) {
    if (MoveFileExW(from.wc_str(), to.wc_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

bool RemoveFile(const wxString& path) {
    return DeleteFileW(path.wc_str()) != 0;
}

std::FILE* OpenForReading(const wxString& path) {
    return _wfopen(path.wc_str(), L"rb");
}

std::vector<wxString> FolderEntries(const wxString& folder) {
    std::vector<wxString> names;
    wxDir dir;
    if (!wxDir::Exists(folder) || !dir.Open(folder))
        return names;
    wxString name;
    for (bool more = dir.GetFirst(&name, wxEmptyString, wxDIR_FILES | wxDIR_DIRS | wxDIR_HIDDEN);
         more; more = dir.GetNext(&name))
        names.push_back(name);
    return names;
}

bool IsDiskFull(int err) {
    return err == ENOSPC;
}

} // namespace platform
