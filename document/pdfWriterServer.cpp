// A page of the USPTO route: fetched through the job's session straight into the writer.
#include "pdfWriter.h"

#include "httpSession.h"

bool pdfWriter::AddPageFromServer(httpSession& session, wxString path) {
    if (!m_ok)
        return false;
    const std::unique_ptr<wxInputStream> in = session.Request(path);
    return in && AddPage(*in);
}
