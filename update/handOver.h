// Handing over to a newly downloaded program: starting it with the arguments the new
// version looks for at start-up, and ending this process.
#pragma once

#include <wx/string.h>

#include <functional>

// Starts newProgram with exactly the arguments "delete" and oldProgram, each passed as one
// argument (no shell, no splitting at blanks), without waiting for it. Returns false with
// *error set when it could not be started.
bool StartHandOver(const wxString& newProgram, const wxString& oldProgram, wxString* error);

// Ends the process at once with code, without running the close sequence. Tests replace
// the ending so that they can watch it.
void ExitProgram(int code);
// An empty function restores the real ending.
void SetExitFunction(std::function<void(int)> fn);
