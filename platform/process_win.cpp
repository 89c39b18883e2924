#include "process.h"

#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <windows.h>

namespace platform {

bool StartDetached(const std::vector<wxString>& args) {
    // wxExecute quotes each argument for the program's command line.
    std::vector<const wchar_t*> argv;
    for (const wxString& arg : args)
        argv.push_back(arg.wc_str());
    argv.push_back(nullptr);
    return wxExecute(argv.data(), wxEXEC_ASYNC) > 0;
}

void ExitNow(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

long CurrentProcessId() {
    return long(GetCurrentProcessId());
}

bool ProcessGone(long pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER; // no such process
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

} // namespace platform
