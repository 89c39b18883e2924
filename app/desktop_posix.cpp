#include "desktop.h"

#include "process.h"

#include <wx/cmdline.h>
#include <wx/filename.h>
#include <wx/mimetype.h>
#include <wx/utils.h>

#include <vector>

namespace {

// True when program names an executable file, directly or through PATH. Asked before
// starting it: a detached start cannot report that the program was missing.
bool programExists(const wxString& program) {
    if (program.Contains("/"))
        return wxFileName::IsFileExecutable(program);
    wxString dirs;
    wxGetEnv("PATH", &dirs);
    for (const wxString& dir : wxSplit(dirs, ':', '\0')) {
        if (!dir.empty() && wxFileName::IsFileExecutable(dir + "/" + program))
            return true;
    }
    return false;
}

// Starts the argument vector without waiting and without a shell; false when it could
// not be started.
bool startDetached(const wxArrayString& words) {
    if (words.empty() || !programExists(words[0]))
        return false;
    return platform::StartDetached(std::vector<wxString>(words.begin(), words.end()));
}

bool startDetached(const wxString& program, const wxString& path) {
    wxArrayString words;
    words.Add(program);
    words.Add(path);
    return startDetached(words);
}

// The registered viewer's command for path as an argument vector. The open command is
// built around a stand-in and split before the path goes in, so that the path is always
// exactly one argument, whatever quotes, blanks or tabs it holds. Empty when no viewer is
// registered.
wxArrayString ViewerCommand(const wxString& path) {
    static const wxString kStandIn = "QuorvanePdfPathStandIn";
    wxString command;
    if (wxFileType* type = wxTheMimeTypesManager->GetFileTypeFromExtension("pdf")) {
        command = type->GetOpenCommand(kStandIn);
        delete type;
    }
    wxArrayString words;
    if (command.empty())
        return words;
    bool placed = false;
    for (wxString word : wxCmdLineParser::ConvertStringToArgs(command)) {
        if (word.Contains(kStandIn)) {
            word.Replace(kStandIn, path);
            placed = true;
        }
        words.Add(word);
    }
    if (!placed)
        words.Add(path);
    return words;
}
} // namespace

namespace desktop {

bool OpenDocument(const wxString& absolute) {
    if (startDetached(ViewerCommand(absolute)))
        return true;
    // No registered viewer that would start: the desktop's opener decides.
    return startDetached("xdg-open", absolute);
}

bool PrintDocument(const wxString& path) {
    return startDetached("lp", path);
}

void TakeOverProgramPath(const wxString&) {}

wxString DefaultDownloadFolder() {
    return wxString(); // the folder the program was started in
}

} // namespace desktop
