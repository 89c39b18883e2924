// The commands on the selected rows: open, print, remove, delete, cancel, and dragging
// finished PDFs out of the list.
#include "MyFrame.h"

#include <wx/cmdline.h>
#include <wx/dataobj.h>
#include <wx/dnd.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/mimetype.h>
#include <wx/utils.h>

#include <algorithm>

namespace {
const char* const kNoReader = "No PDF Reader Found.  Please install a PDF reader.";

void addOnce(std::vector<int>& ids, int id) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end())
        ids.push_back(id);
}

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
    std::vector<wxScopedCharBuffer> bytes;
    std::vector<const char*> argv;
    for (const wxString& word : words)
        bytes.push_back(word.utf8_str());
    for (const wxScopedCharBuffer& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    return wxExecute(argv.data(), wxEXEC_ASYNC) > 0;
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

bool MyFrame::OpenPdf(const wxString& path) {
    if (path.empty())
        return true;
    // An absolute path cannot be read as an option by the viewer.
    wxFileName file(path);
    file.MakeAbsolute();
    const wxString absolute = file.GetFullPath();
    if (startDetached(ViewerCommand(absolute)))
        return true;
    // No registered viewer that would start: the desktop's opener decides.
    if (!startDetached("xdg-open", absolute))
        wxLogError("%s", kNoReader);
    return true;
}

bool MyFrame::PrintPdf(const wxString& path) {
    if (path.empty())
        return true;
    if (!startDetached("lp", path))
        wxLogError("%s", kNoReader);
    return true;
}

void MyFrame::OnOpen(wxCommandEvent&) {
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row)) {
        JobRecord* record = RecordOfRow(row);
        if (!record)
            continue;
        if (record->finished)
            OpenPdf(record->pdfPath);
        else
            addOnce(openWhenFinished, record->id);
    }
}

void MyFrame::OnItemActivated(wxListEvent&) {
    wxCommandEvent open(wxEVT_MENU, ID_OPEN);
    OnOpen(open);
}

void MyFrame::OnPrint(wxCommandEvent&) {
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row)) {
        JobRecord* record = RecordOfRow(row);
        if (!record)
            continue;
        if (!record->pdfPath.empty())
            PrintPdf(record->pdfPath);
        else
            addOnce(printWhenFinished, record->id);
    }
}

void MyFrame::OnRemove(wxCommandEvent&) {
    RequestStopOfSelected();
    long row;
    while ((row = listCtrl->GetFirstSelected()) != -1) {
        queue.Remove(static_cast<int>(listCtrl->GetItemData(row)));
        listCtrl->DeleteItem(row);
    }
}

void MyFrame::OnDelete(wxCommandEvent&) {
    RequestStopOfSelected();
    long row;
    while ((row = listCtrl->GetFirstSelected()) != -1) {
        if (JobRecord* record = RecordOfRow(row)) {
            const wxString path = record->pdfPath;
            if (!path.empty() && !wxRemoveFile(path) && wxFileExists(path))
                wxLogError("Error permanently deleting %s", path);
            queue.Remove(record->id);
        }
        listCtrl->DeleteItem(row);
    }
}

void MyFrame::OnCancel(wxCommandEvent&) {
    RequestStopOfSelected();
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row)) {
        if (JobRecord* record = RecordOfRow(row))
            queue.Cancel(*record); // the row shows "Cancelled" when the queue reports it
    }
}

void MyFrame::OnItemRightClick(wxListEvent&) {
    wxMenu menu;
    menu.Append(ID_OPEN, "&Open in PDF Viewer", "Open in PDF viewer when Finished");
    menu.Append(ID_PRINT, "&Print", "Print using external PDF viewer when Finished");
    menu.Append(ID_REMOVE, "&Remove from List", "Remove PDF From List");
    menu.Append(ID_DELETE, "Permanetely &Delete", "Permanetely Delete PDF");
    menu.Append(ID_CANCEL, "&Cancel", "Cancel Currently Downloading Jobs");
    PopupMenu(&menu);
}

void MyFrame::OnBeginDrag(wxListEvent&) {
    wxFileDataObject files;
    bool any = false;
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row)) {
        JobRecord* record = RecordOfRow(row);
        // Rows without a PDF have nothing to drag.
        if (record && !record->pdfPath.empty()) {
            files.AddFile(record->pdfPath);
            any = true;
        }
    }
    if (!any)
        return;
    wxDropSource source(files, this);
    source.DoDragDrop(wxDrag_CopyOnly);
}
