// The help window: its page and the modal dialog that shows it.
#pragma once

#include "HtmlWindow.h"

// The help page, built anew each time it is shown.
wxString BuildHelpPage();

// The modal help window (not yet shown); the caller shows and destroys it.
class wxDialog;
wxDialog* CreateHelpDialog(wxWindow* parent);
