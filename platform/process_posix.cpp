#include "process.h"

#include <wx/utils.h>

#include <cerrno>
#include <cstdio>
#include <signal.h>
#include <unistd.h>

namespace platform {

bool StartDetached(const std::vector<wxString>& args) {
    std::vector<wxScopedCharBuffer> bytes;
    std::vector<const char*> argv;
    for (const wxString& arg : args)
        bytes.push_back(arg.fn_str());
    for (const wxScopedCharBuffer& arg : bytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return wxExecute(argv.data(), wxEXEC_ASYNC) > 0;
}

void ExitNow(int code) {
    std::fflush(nullptr);
    ::_exit(code);
}

long CurrentProcessId() {
    return long(getpid());
}

bool ProcessGone(long pid) {
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace platform
