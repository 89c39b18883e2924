// The commands on the selected rows: open, print, remove, delete, cancel, and dragging
// finished PDFs out of the list.
#include "MyFrame.h"

#include "desktop.h"

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

} // namespace

bool MyFrame::OpenPdf(const wxString& path) {
    if (path.empty())
        return true;
    // An absolute path cannot be read as an option by the viewer.
    wxFileName file(path);
    file.MakeAbsolute();
    if (!desktop::OpenDocument(file.GetFullPath()))
        wxLogError("%s", kNoReader);
    return true;
}

bool MyFrame::PrintPdf(const wxString& path) {
    if (path.empty())
        return true;
    if (!desktop::PrintDocument(path))
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
