// The commands on the selected rows: open, print, remove, delete, cancel, and dragging
// finished PDFs out of the list.
#include "MyFrame.h"

#include "jobRecord.h"

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

// Starts program with path without waiting; false when it could not be started.
bool startDetached(const wxString& program, const wxString& path) {
    if (!programExists(program))
        return false;
    const wxScopedCharBuffer p = program.utf8_str();
    const wxScopedCharBuffer f = path.utf8_str();
    const char* argv[] = {p.data(), f.data(), nullptr};
    return wxExecute(argv, wxEXEC_ASYNC) > 0;
}
} // namespace

bool MyFrame::OpenPdf(const wxString& path) {
    if (path.empty())
        return true;
    wxString command;
    if (wxFileType* type = wxTheMimeTypesManager->GetFileTypeFromExtension("pdf")) {
        command = type->GetOpenCommand(path);
        delete type;
    }
    if (!command.empty()) {
        const wxArrayString words = wxCmdLineParser::ConvertStringToArgs(command);
        if (!words.empty() && programExists(words[0]) && wxExecute(command, wxEXEC_ASYNC) > 0)
            return true;
    }
    // No registered viewer that would start: the desktop's opener decides.
    if (!startDetached("xdg-open", path))
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
    long row;
    while ((row = listCtrl->GetFirstSelected()) != -1) {
        if (JobRecord* record = RecordOfRow(row)) {
            Forget(record);
            FreeJobRecord(record);
        }
        listCtrl->DeleteItem(row);
    }
}

void MyFrame::OnDelete(wxCommandEvent&) {
    long row;
    while ((row = listCtrl->GetFirstSelected()) != -1) {
        if (JobRecord* record = RecordOfRow(row)) {
            const wxString path = record->pdfPath;
            if (!path.empty() && !wxRemoveFile(path) && wxFileExists(path))
                wxLogError("Error permanently deleting %s", path);
            Forget(record);
            FreeJobRecord(record);
        }
        listCtrl->DeleteItem(row);
    }
}

void MyFrame::OnCancel(wxCommandEvent&) {
    for (long row = listCtrl->GetFirstSelected(); row != -1; row = listCtrl->GetNextSelected(row)) {
        JobRecord* record = RecordOfRow(row);
        if (!record || record->finished)
            continue;
        StopJob(*record);
        listCtrl->SetItem(row, 1, "Cancelled");
        Forget(record);
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
