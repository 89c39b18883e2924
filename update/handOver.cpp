#include "handOver.h"

#include <wx/filename.h>
#include <wx/utils.h>

#include <cstdio>
#include <unistd.h>

namespace {
std::function<void(int)>& exitFunction() {
    static std::function<void(int)> fn;
    return fn;
}
} // namespace

bool StartHandOver(const wxString& newProgram, const wxString& oldProgram, wxString* error) {
    if (!wxFileName::IsFileExecutable(newProgram)) {
        if (error)
            *error = "Cannot run " + newProgram;
        return false;
    }
    // An argument vector keeps a path with blanks in one piece.
    const wxScopedCharBuffer program = newProgram.fn_str();
    const wxScopedCharBuffer old = oldProgram.fn_str();
    const char* argv[] = {program.data(), "delete", old.data(), nullptr};
    const long pid = wxExecute(argv, wxEXEC_ASYNC);
    if (pid <= 0) {
        if (error)
            *error = "Cannot run " + newProgram;
        return false;
    }
    return true;
}

void ExitProgram(int code) {
    if (exitFunction()) {
        exitFunction()(code);
        return;
    }
    // Jobs may still be running: leave without static destructors, which they could race.
    std::fflush(nullptr);
    ::_exit(code);
}

void SetExitFunction(std::function<void(int)> fn) {
    exitFunction() = std::move(fn);
}
