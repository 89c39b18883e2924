// What the desktop does for the program: opening and printing a PDF with the user's own
// programs, and where downloads go when the user has not chosen a folder.
#pragma once

#include <wx/string.h>

namespace desktop {

// Opens the PDF at an absolute path in the user's viewer; false when none would start.
bool OpenDocument(const wxString& absolute);
// Prints the PDF without showing it; false when nothing would print it.
bool PrintDocument(const wxString& path);
// After the update's hand-over removed the old program at oldPath: the running program takes
// that path where shortcuts name it (the Start menu on Windows); elsewhere it keeps its own.
void TakeOverProgramPath(const wxString& oldPath);
// The download folder of a first start: empty for the folder the program was started in.
wxString DefaultDownloadFolder();

} // namespace desktop
