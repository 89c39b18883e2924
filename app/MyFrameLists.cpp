// Lists of numbers in the window: several numbers typed, pasted or dropped at once, and
// File > Download List.
#include "MyFrame.h"

#include "numberList.h"

#include <wx/filedlg.h>
#include <wx/log.h>

void MyFrame::AddNumbers(const std::vector<wxString>& numbers) {
    for (const wxString& number : numbers)
        AddRow(number, std::make_unique<JobRecord>(number));
    queue.Dispatch();
}

bool MyFrame::LoadListFile(const wxString& path) {
    std::vector<wxString> numbers;
    wxString error;
    if (!ReadListFile(path, numbers, error)) {
        wxLogError("%s", error);
        return false;
    }
    if (numbers.empty()) {
        wxLogMessage("%s", "The list " + path + " holds no numbers.");
        return true;
    }
    AddNumbers(numbers);
    return true;
}

void MyFrame::OnDownloadList(wxCommandEvent&) {
    wxFileDialog dialog(this, "Download List", wxEmptyString, wxEmptyString,
                        "Lists (*.txt, *.csv)|*.txt;*.csv|Text files (*.txt)|*.txt|CSV files "
                        "(*.csv)|*.csv|All files|*",
                        wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() == wxID_OK && !dialog.GetPath().empty())
        LoadListFile(dialog.GetPath());
}
