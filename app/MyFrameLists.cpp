// Lists of numbers in the window: several numbers typed, pasted or dropped at once, and
// File > Download List.
#include "MyFrame.h"

#include "jobRecord.h"
#include "numberList.h"

#include <wx/clipbrd.h>
#include <wx/filedlg.h>
#include <wx/log.h>

const char* const kTooLongForTheBox =
    "This text is too long for the input box, so none of it was taken. Paste it with Ctrl+V "
    "or drop it on the list instead, or save it in a file and use File \u2192 Download "
    "List\u2026";

bool MyFrame::FitsInputBox(const wxString& text) {
    return text.utf8_str().length() <= kInputBoxBytes;
}

void MyFrame::TakeLongText(const wxString& text) {
    const std::vector<wxString> pieces = SplitNumbers(text);
    if (pieces.size() == 1) {
        JobRecord probe(pieces[0]);
        if (!probe.valid) {
            // The pasted text is data, never a format.
            wxLogError("%s", "\"" + TextForMessage(pieces[0]) + "\" -- Unknown Format\n\n\n" +
                                 kInputToolTip);
            return;
        }
    }
    AddNumbers(pieces);
    textCtrl->SetValue(wxEmptyString);
    textCtrl->SetFocus();
}

void MyFrame::DropText(const wxString& text) {
    if (!FitsInputBox(text)) {
        TakeLongText(text);
        return;
    }
    textCtrl->ChangeValue(text);
    inputKept = text;
}

// Ctrl+V, Shift+Insert and the box's menu come here before the toolkit pastes.
void MyFrame::OnInputPaste(wxClipboardTextEvent& event) {
    wxString pasted;
    {
        wxClipboardLocker locker;
        wxTextDataObject data;
        if (!locker || !wxTheClipboard->GetData(data)) {
            event.Skip();
            return;
        }
        pasted = data.GetText();
    }
    long from = 0, to = 0;
    textCtrl->GetSelection(&from, &to);
    const wxString value = textCtrl->GetValue();
    const wxString whole =
        value.Left(static_cast<size_t>(from)) + pasted + value.Mid(static_cast<size_t>(to));
    if (FitsInputBox(whole)) {
        event.Skip(); // the toolkit pastes as it always did
        return;
    }
    TakeLongText(whole);
}

// Text may still reach the box past the paste check (dropped on the box itself, pasted with
// the middle button); the toolkit may have cut it, so a full box is refused whole.
void MyFrame::OnInputText(wxCommandEvent& event) {
    event.Skip();
    const wxString value = textCtrl->GetValue();
    if (FitsInputBox(value)) {
        inputKept = value;
        return;
    }
    // Not from inside the toolkit's own change: it is still working on the box.
    CallAfter([this] {
        textCtrl->ChangeValue(inputKept);
        textCtrl->SetInsertionPointEnd();
        wxLogError("%s", wxString::FromUTF8(kTooLongForTheBox));
    });
}

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
