#pragma once

#include <wx/dnd.h>

class MyFrame;

// Text dropped on the main window lands in the input box and starts nothing by itself; a
// text too long for the box becomes its rows at once instead.
class tesselDrop : public wxTextDropTarget {
public:
    explicit tesselDrop(MyFrame* frame) : m_frame(frame) {}
    bool OnDropText(wxCoord x, wxCoord y, const wxString& text) override;

private:
    MyFrame* m_frame; // not owned; owns this target
};
