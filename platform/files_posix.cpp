#include "files.h"

#include <wx/filename.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

const char* const kProgramSuffix = "";

namespace {
std::string FsName(const wxString& path) {
    return std::string(static_cast<const char*>(path.fn_str()));
}
} // namespace

int CreateNewFile(const wxString& path) {
    return ::open(FsName(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

void StartWriteBack(int fd, int64_t from, int64_t length) {
    sync_file_range(fd, from, length, SYNC_FILE_RANGE_WRITE);
}

bool SyncFile(int fd) {
    return fsync(fd) == 0;
}

bool CutFile(int fd, int64_t size) {
    return ftruncate(fd, size) == 0 && lseek(fd, size, SEEK_SET) == size;
}

bool MakeExecutable(int fd) {
    return ::fchmod(fd, 0755) == 0;
}

int CreateTempBeside(const wxString& path, wxString* made) {
    const wxFileName dest(path);
    std::string temp = (dest.GetPath() + "/." + dest.GetFullName() + ".XXXXXX").fn_str().data();
    const int fd = ::mkstemp(&temp[0]);
    *made = wxString(temp.c_str(), *wxConvFileName);
    return fd;
}

bool RenameOver(const wxString& from, const wxString& to) {
    return ::rename(FsName(from).c_str(), FsName(to).c_str()) == 0;
}

bool RemoveFile(const wxString& path) {
    return ::unlink(FsName(path).c_str()) == 0;
}

std::FILE* OpenForReading(const wxString& path) {
    return std::fopen(path.fn_str(), "rb");
}

std::vector<wxString> FolderEntries(const wxString& folder) {
    std::vector<wxString> names;
    DIR* dir = ::opendir(FsName(folder).c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name.c_str(), *wxConvFileName);
    }
    ::closedir(dir);
    return names;
}

bool IsDiskFull(int err) {
    return err == ENOSPC || err == EDQUOT;
}

} // namespace platform
