#include "tesselDrop.h"

#include <wx/textctrl.h>

bool tesselDrop::OnDropText(wxCoord, wxCoord, const wxString& text) {
    m_input->ChangeValue(text);
    return true;
}
