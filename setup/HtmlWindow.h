#pragma once

#include <wx/html/htmlwin.h>

// An HTML view whose links to "#anchor" move inside the page; every other link opens in the
// desktop's browser.
class HtmlWindow : public wxHtmlWindow {
public:
    HtmlWindow(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
               const wxSize& size = wxDefaultSize, long style = wxHW_DEFAULT_STYLE,
               const wxString& name = "htmlWindow")
        : wxHtmlWindow(parent, id, pos, size, style, name) {}

    void OnLinkClicked(const wxHtmlLinkInfo& link) override;
};
