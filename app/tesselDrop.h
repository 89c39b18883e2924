#pragma once

#include <wx/dnd.h>

class wxTextCtrl;

// Text dropped on the main window lands in the input box; it starts nothing by itself.
class tesselDrop : public wxTextDropTarget {
public:
    explicit tesselDrop(wxTextCtrl* input) : m_input(input) {}
    bool OnDropText(wxCoord x, wxCoord y, const wxString& text) override;

private:
    wxTextCtrl* m_input; // not owned
};
