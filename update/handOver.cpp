#include "handOver.h"

#include "process.h"

#include <wx/filename.h>

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
    if (!platform::StartDetached({newProgram, "delete", oldProgram})) {
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
    platform::ExitNow(code);
}

void SetExitFunction(std::function<void(int)> fn) {
    exitFunction() = std::move(fn);
}
