// Helpers for the setup dialog tests: a main window with no update check due, the Setup
// command driven through its modal loop, and user actions on the dialog's controls.
#pragma once

#include "MyApp.h"
#include "MyFrame.h"
#include "SetupDialog.h"
#include "guitest.h"
#include "modalDriver.h"
#include "settings.h"
#include "testutil.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dirdlg.h>
#include <wx/filefn.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <ctime>
#include <unistd.h>

#include <ostream>

// Readable failure messages for wxString values.
inline void PrintTo(const wxString& s, std::ostream* os) {
    *os << '"' << s.utf8_string() << '"';
}

namespace qvtest {

// A fresh settings store in which no update check is due, so no traffic starts.
inline void settingsWithoutCheckDue() {
    if (wxFileExists(SettingsFilePath()))
        wxRemoveFile(SettingsFilePath());
    auto config = OpenSettings();
    config->Write("lastCheck", static_cast<long>(std::time(nullptr)));
}

inline void closeMainWindow() {
    if (TheMainFrame()) {
        TheMainFrame()->Close(true);
        pumpUntil([] { return TheMainFrame() == nullptr; });
    }
    pump(50);
}

// Runs the main window's Setup command; script runs inside the dialog's modal loop, and
// every other modal window goes to others.
inline void runSetupCommand(
    MyFrame* frame, const std::function<void(SetupDialog&)>& script,
    const ModalHook::Answer& others = [](wxDialog*) { return wxID_NONE; },
    ModalHook** hookOut = nullptr) {
    ModalHook hook([&](wxDialog* dialog) {
        if (SetupDialog* setup = dynamic_cast<SetupDialog*>(dialog)) {
            setup->CallAfter([setup, script] {
                pumpUntil([&] { return setup->IsShownOnScreen(); }, std::chrono::seconds(5));
                pump(50);
                script(*setup);
                if (setup->IsModal())
                    setup->EndModal(kStillOpen);
            });
            return static_cast<int>(wxID_NONE);
        }
        return others(dialog);
    });
    if (hookOut)
        *hookOut = &hook;
    wxCommandEvent menu(wxEVT_MENU, ID_SETUP);
    frame->ProcessWindowEvent(menu);
    if (hookOut)
        *hookOut = nullptr;
}

// A click on the first button with this identifier (the Network page's OK or Cancel).
inline void click(wxWindow* dialog, int id) {
    wxWindow* button = dialog->FindWindow(id);
    if (!button)
        return;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(button);
    button->ProcessWindowEvent(event);
    pump(50);
}

// The user picks item in the connection type choice.
inline void chooseConnection(SetupDialog& dialog, int item) {
    dialog.m_connectionChoice->SetSelection(item);
    wxCommandEvent event(wxEVT_CHOICE, dialog.m_connectionChoice->GetId());
    event.SetInt(item);
    event.SetEventObject(dialog.m_connectionChoice);
    dialog.m_connectionChoice->ProcessWindowEvent(event);
    pump(20);
}

// Real key presses into the focused window, through the X server.
inline void typeInto(wxTextCtrl* field, const char* text) {
    field->SetFocus();
    pumpUntil([&] { return wxWindow::FindFocus() == field; }, std::chrono::seconds(2));
    field->SetInsertionPointEnd();
    wxUIActionSimulator sim;
    sim.Text(text);
    pump(150);
}

inline void pressKey(wxWindow* focus, int key) {
    focus->SetFocus();
    pumpUntil([&] { return wxWindow::FindFocus() == focus; }, std::chrono::seconds(2));
    wxUIActionSimulator sim;
    sim.Char(key);
    pump(150);
}

// What the log recorded, without its time stamp and level prefix.
inline std::vector<wxString> plainTexts(const std::vector<wxString>& texts) {
    std::vector<wxString> out;
    for (wxString t : texts) {
        if (t.length() >= 10 && t[2] == ':' && t[5] == ':' && t[8] == ':')
            t = t.Mid(10);
        if (t.StartsWith("Error: "))
            t = t.Mid(7);
        out.push_back(t);
    }
    return out;
}
inline std::vector<wxString> errorsIn(const CapturedLog& log) {
    return plainTexts(log.errors());
}
inline std::vector<wxString> messagesIn(const CapturedLog& log) {
    return plainTexts(log.messages());
}

// A folder name that a keyboard can type without shift: lower case, digits and '-'.
class TypableDir {
public:
    TypableDir() {
        m_path = wxString::Format("/tmp/qv-typable-%ld-%d", static_cast<long>(getpid()), ++s_n);
        wxMkdir(m_path);
    }
    ~TypableDir() { runCommand(std::string("rm -rf '") + m_path.utf8_string() + "'"); }
    const wxString& path() const { return m_path; }

private:
    wxString m_path;
    static inline int s_n = 0;
};

// Answers the folder chooser as a user would: types the folder's path into the chooser's
// location field and presses Enter. Other modal windows are shown.
inline ModalHook::Answer pickFolder(const wxString& folder) {
    return [folder](wxDialog* dialog) {
        if (wxDirDialog* chooser = dynamic_cast<wxDirDialog*>(dialog)) {
            chooser->CallAfter([chooser, folder] {
                pumpUntil([&] { return chooser->IsShownOnScreen(); }, std::chrono::seconds(5));
                pump(400);
                wxUIActionSimulator sim;
                sim.Char('l', wxMOD_CONTROL);
                pump(300);
                sim.Text(folder.utf8_str());
                pump(300);
                sim.Char(WXK_RETURN);
                if (!pumpUntil([&] { return !chooser->IsModal(); }, std::chrono::seconds(5)))
                    chooser->EndModal(wxID_CANCEL);
            });
        }
        return static_cast<int>(wxID_NONE);
    };
}

} // namespace qvtest
