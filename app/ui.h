// The program's modal questions go through one replaceable function, so that tests can
// answer them instead of a user.
#pragma once

#include <wx/string.h>

#include <functional>

class wxWindow;

// Same arguments and answer as wxMessageBox (wxYES, wxNO, wxOK, wxCANCEL).
using QuestionFunction =
    std::function<int(const wxString& text, const wxString& caption, long style, wxWindow* parent)>;

int AskUser(const wxString& text, const wxString& caption, long style, wxWindow* parent);

// Replaces the question for the rest of the run (GUI thread only); an empty function
// restores wxMessageBox.
void SetQuestionFunction(QuestionFunction fn);
