#include "tesselDrop.h"

#include "MyFrame.h"

bool tesselDrop::OnDropText(wxCoord, wxCoord, const wxString& text) {
    m_frame->DropText(text);
    return true;
}
