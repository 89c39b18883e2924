// The file and process calls that differ between POSIX systems and Windows. Everything
// above this room names files as wxString and descriptors as int; how a name becomes the
// system's (bytes on Linux, UTF-16 on Windows) is decided here alone.
#pragma once

#include <wx/string.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace platform {

// Creates path for writing, failing when it exists (errno EEXIST). The descriptor writes
// bytes as they are and is not passed to programs this process starts. -1 with errno set.
int CreateNewFile(const wxString& path);
// Asks the system to start writing [from, from + length) to the disk without waiting.
void StartWriteBack(int fd, int64_t from, int64_t length);
// Waits until what was written through fd is on the disk.
bool SyncFile(int fd);
// Cuts the file back to size bytes and moves the position there.
bool CutFile(int fd, int64_t size);
// Lets the file be started as a program (the update's new program file).
bool MakeExecutable(int fd);
// Makes a unique file beside path, named after it, for writing: *made is its name.
int CreateTempBeside(const wxString& path, wxString* made);
// Gives from the name to, replacing a file of that name.
bool RenameOver(const wxString& from, const wxString& to);
bool RemoveFile(const wxString& path);
// Opens an existing file for reading bytes; null with errno set.
std::FILE* OpenForReading(const wxString& path);
// The names in a folder, "." and ".." left out; empty when it cannot be read.
std::vector<wxString> FolderEntries(const wxString& folder);
// True when err (an errno value) says the disk or the user's quota is full.
bool IsDiskFull(int err);

// How program files end here: "" on POSIX systems, ".exe" on Windows.
extern const char* const kProgramSuffix;

} // namespace platform
