// Kept apart from pdfWriter.cpp so that a program that only calls AddPage does not pull
// in the HTTP session.
#include "pdfWriter.h"

#include "httpSession.h"

bool pdfWriter::AddPageFromServer(httpSession& session, wxString path) {
    if (!m_ok)
        return false;
    wxInputStream* in = session.Request(path);
    if (!in)
        return false;
    const bool added = AddPage(*in);
    delete in;
    return added;
}
