#include "HtmlWindow.h"

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
