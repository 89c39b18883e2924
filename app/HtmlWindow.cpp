#include "HtmlWindow.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/utils.h>

void HtmlWindow::OnLinkClicked(const wxHtmlLinkInfo& link) {
    const wxString target = link.GetHref();
    if (target.StartsWith("#")) {
        wxHtmlWindow::OnLinkClicked(link);
        return;
    }
    // A link the desktop cannot open is ignored.
    wxLaunchDefaultBrowser(target);
}

wxDialog* CreateHelpDialog(wxWindow* parent) {
    wxDialog* dialog = new wxDialog(parent, wxID_ANY, "Quorvane Help", wxDefaultPosition,
                                    wxSize(800, 500), wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    HtmlWindow* html = new HtmlWindow(dialog, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      wxHW_DEFAULT_STYLE, "htmlWindow");
    html->SetPage(BuildHelpPage());
    sizer->Add(html, 1, wxALL | wxEXPAND, 10);
    sizer->Add(
        new wxStaticLine(dialog, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLI_HORIZONTAL), 0,
        wxLEFT | wxRIGHT | wxEXPAND, 10);
    wxButton* ok = new wxButton(dialog, wxID_OK, "OK");
    ok->SetDefault();
    sizer->Add(ok, 0, wxALL | wxALIGN_RIGHT, 15);
    dialog->SetSizer(sizer);
    return dialog;
}
