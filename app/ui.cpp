#include "ui.h"

#include <wx/msgdlg.h>

namespace {
// Touched only on the GUI thread.
QuestionFunction& questionFunction() {
    static QuestionFunction fn;
    return fn;
}
} // namespace

int AskUser(const wxString& text, const wxString& caption, long style, wxWindow* parent) {
    if (questionFunction())
        return questionFunction()(text, caption, style, parent);
    return wxMessageBox(text, caption, style, parent);
}

void SetQuestionFunction(QuestionFunction fn) {
    questionFunction() = std::move(fn);
}
