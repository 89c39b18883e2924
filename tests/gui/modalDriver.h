// Driving modal windows from a test without blocking it: a script runs inside the dialog's
// own modal loop, and a hook answers the nested modal windows (message boxes, the folder
// chooser, the result window) as they open.
#pragma once

#include "guitest.h"

#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>

#include <functional>
#include <string>
#include <vector>

namespace qvtest {

// ShowModal's answer when the script ended with the dialog still open.
constexpr int kStillOpen = 9999;

// Shows dialog modally and runs script inside its modal loop once it is on screen; a
// dialog still open after the script is ended with kStillOpen. Returns ShowModal's answer.
inline int runModal(wxDialog& dialog, const std::function<void()>& script) {
    dialog.CallAfter([&dialog, script] {
        pumpUntil([&] { return dialog.IsShownOnScreen(); }, std::chrono::seconds(5));
        pump(50);
        script();
        if (dialog.IsModal())
            dialog.EndModal(kStillOpen);
    });
    return dialog.ShowModal();
}

// Every modal window opened while it exists goes to answer first: returning wxID_NONE
// shows it normally, any other value is returned by its ShowModal without showing it.
class ModalHook : public wxModalDialogHook {
public:
    using Answer = std::function<int(wxDialog*)>;
    explicit ModalHook(Answer answer) : m_answer(std::move(answer)) { Register(); }
    ~ModalHook() override { Unregister(); }

    struct Seen {
        wxString title;
        wxString message; // message boxes only
    };
    std::vector<Seen> seen;

protected:
    int Enter(wxDialog* dialog) override {
        Seen s{dialog->GetTitle(), wxString()};
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
            s.title = box->GetCaption();
            s.message = box->GetMessage();
        }
        seen.push_back(s);
        return m_answer(dialog);
    }
    void Exit(wxDialog*) override {}

private:
    Answer m_answer;
};

} // namespace qvtest
