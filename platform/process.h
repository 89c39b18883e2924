// Starting and ending processes, the POSIX way or the Windows way.
#pragma once

#include <wx/string.h>

#include <vector>

namespace platform {

// Starts args[0] with args[1...], each passed as one argument (no shell, no splitting at
// blanks), without waiting for it. False when it could not be started.
bool StartDetached(const std::vector<wxString>& args);
// Ends the process at once with code: no static destructors, which running threads could race.
[[noreturn]] void ExitNow(int code);

long CurrentProcessId();
// True only when no process of that id runs any more.
bool ProcessGone(long pid);

} // namespace platform
