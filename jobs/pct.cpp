#include "pct.h"

#include "jobHosts.h"
#include "jobText.h"
#include "pdfWriter.h"

#include <wx/log.h>
#include <wx/mstream.h>

#include <memory>

using namespace jobhosts;

namespace {

wxString Envelope(const wxString& innerRequest) {
    return "<soapenv:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:urn=\"urn:EPO-OpenPatentServices-documentData\">\n"
           "<soapenv:Body>\n"
           "<urn:getDocumentData "
           "soapenv:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\n"
           "<input_request xsi:type=\"xsd:string\">" +
           innerRequest +
           "</input_request>\n"
           "</urn:getDocumentData>\n"
           "</soapenv:Body>\n"
           "</soapenv:Envelope>";
}

// A value read from the answer (one escaping level deep) as a value for our request:
// back to plain text, then escaped again for both levels, so a well-formed value comes out
// unchanged and a malformed one cannot break the envelope.
wxString Reescaped(const wxString& answerText) {
    return jobtext::XmlEscapeTwice(jobtext::XmlUnescape(jobtext::XmlUnescape(answerText)));
}

} // namespace

wxString PctInquiryEnvelope(const wxString& number) {
    return Envelope("&lt;OpenPatentServices ACTION=&quot;DocumentInquiry&quot;&gt;"
                    "&lt;WORLDPATENTDATA&gt;&lt;INQUIRY SEED=&quot;" +
                    jobtext::XmlEscapeTwice(number) +
                    "&quot; SEED_FORMAT=&quot;E&quot; SEED_TYPE=&quot;PN&quot;/&gt;"
                    "&lt;/WORLDPATENTDATA&gt;&lt;/OpenPatentServices&gt;");
}

wxString PctRetrievalEnvelope(const wxString& docId, const wxString& system, unsigned long page) {
    return Envelope("&lt;OpenPatentServices ACTION=&quot;DocumentRetrieval&quot;&gt;"
                    "&lt;WORLDPATENTDATA&gt;&lt;DOCUMENT ID=&quot;" +
                    Reescaped(docId) + "&quot; SYSTEM=&quot;" + Reescaped(system) +
                    wxString::Format("&quot; FORMAT=&quot;SINGLE_PAGE_TIFF&quot; "
                                     "PAGE_NUMBER=&quot;%lu&quot;/&gt;",
                                     page) +
                    "&lt;/WORLDPATENTDATA&gt;&lt;/OpenPatentServices&gt;");
}

namespace {

// The values of the first full-document instance on a line, found the way the pattern
// SYSTEM=&quot;(.*)&quot; ID=&quot;(.*)&quot; NUMBER_OF_PAGES=&quot;(.*)&quot; DESC=&quot;
// FullDocument&quot;&gt; would find them (each value as long as it can be), by plain
// searches: linear in the line whatever it holds, and nothing that can fail or report.
bool FindFullDocumentInstance(const wxString& line, wxString& system, wxString& docId,
                              wxString& pages) {
    static const wxString kStart = "&lt;DOCUMENT_PHYSICAL_INSTANCE SYSTEM=&quot;";
    static const wxString kId = "&quot; ID=&quot;";
    static const wxString kPages = "&quot; NUMBER_OF_PAGES=&quot;";
    static const wxString kEnd = "&quot; DESC=&quot;FullDocument&quot;&gt;";
    const size_t start = line.find(kStart);
    if (start == wxString::npos)
        return false;
    const size_t from = start + kStart.length();
    const size_t end = line.rfind(kEnd);
    if (end == wxString::npos || end < from)
        return false;
    const size_t pagesAt = line.rfind(kPages, end);
    if (pagesAt == wxString::npos || pagesAt < from || pagesAt + kPages.length() > end)
        return false;
    const size_t idAt = line.rfind(kId, pagesAt);
    if (idAt == wxString::npos || idAt < from || idAt + kId.length() > pagesAt)
        return false;
    system = line.substr(from, idAt - from);
    docId = line.substr(idAt + kId.length(), pagesAt - idAt - kId.length());
    pages = line.substr(pagesAt + kPages.length(), end - pagesAt - kPages.length());
    return true;
}

} // namespace

bool ParsePctInquiryAnswer(wxInputStream& in, wxString& system, wxString& docId,
                           unsigned long& pageCount) {
    wxString line;
    wxString pages;
    while (!jobtext::AtEnd(in)) {
        jobtext::ReadLine(in, line);
        if (!FindFullDocumentInstance(line, system, docId, pages))
            continue;
        pageCount = jobtext::LeadingULong(pages);
        return !docId.empty() && !system.empty() && pageCount != 0 &&
               pageCount <= static_cast<unsigned long>(kMaxPages);
    }
    return false;
}

bool ParsePctInquiryAnswerText(const wxString& text, wxString& system, wxString& docId,
                               unsigned long& pageCount) {
    const wxScopedCharBuffer bytes = text.To8BitData();
    wxMemoryInputStream in(bytes.data(), bytes.length());
    return ParsePctInquiryAnswer(in, system, docId, pageCount);
}

bool PositionAtPageImage(wxInputStream& in) {
    wxString line;
    bool found = false;
    while (jobtext::ReadLine(in, line)) {
        if (line.StartsWith("Content-Location:")) {
            found = true;
            break;
        }
    }
    if (found)
        jobtext::ReadLine(in, line); // the empty line that ends the part's headers
    return !jobtext::AtEnd(in);
}

wxString pct::PdfName(const wxString& number) {
    wxString name = number;
    name.Replace("/", "-");
    return name + ".pdf";
}

pct::pct(int id_, const JobInput& input) : ziv2ize(id_, input), pageCount(0) {
    if (session.m_ok)
        session.AddHeader(wxString("SOAPAction: \"") + kOps + kOpsPath + "\"");
}

pct::~pct() {}

wxThread::ExitCode pct::Entry() {
    if (!session.m_ok) {
        PostStatus(JobPhase::Failed, wxString::Format("Error %s", session.GetError()));
        return 0;
    }
    PostStatus(JobPhase::LookingUp, wxString("Downloading from ") + kEspacenetSite);
    if (PreviouslyDownloaded(PdfName(number)))
        return 0;
    if (TestDestroy())
        return 0;

    if (!DocumentInquiry(number)) {
        if (session.m_status == 200)
            PostStatus(JobPhase::NotFound, "Not Found!");
        else
            PostStatus(JobPhase::Failed,
                       wxString::Format("Connection Error %s -- %i", session.GetError(),
                                        static_cast<int>(session.m_status)));
        return 0;
    }
    if (TestDestroy())
        return 0;

    {
        pdfWriter writer(output.GetFullPath(), static_cast<int>(pageCount));
        if (!writer.m_ok) {
            PostStatus(JobPhase::Failed, "Error Opening PDF");
            return 0;
        }
        if (!AddPages(writer))
            return 0; // the writer, going out of scope, removes the incomplete file
        FinishPdf(writer);
    }
    return 0;
}

bool pct::AddPages(pdfWriter& writer) {
    for (unsigned long p = 1; p <= pageCount; ++p) {
        if (TestDestroy())
            return false;
        const bool added = RetryWithCountdown(
            [&] {
                PostPage(wxString::Format("Downloading page %lu of %lu", p, pageCount),
                         static_cast<int>(p), static_cast<int>(pageCount));
                if (DocumentRetrieval(writer, p))
                    return Attempt::Done;
                if (!writer.m_ok) {
                    // A page that can never be added: said without a countdown.
                    PostStatus(JobPhase::Failed,
                               wxString::Format("Error Downloading page %d %s", static_cast<int>(p),
                                                writer.m_message));
                    return Attempt::Stop;
                }
                if (session.m_status != 200) {
                    PostStatus(JobPhase::Failed,
                               wxString::Format("Connection Error %s -- %i", session.GetError(),
                                                static_cast<int>(session.m_status)));
                    return Attempt::Stop;
                }
                return Attempt::Again;
            },
            [this](int n) {
                return wxString::Format("Error %s Downloading Tiff Reconnecting in %is", pageError,
                                        n);
            });
        if (!added)
            return false;
    }
    return true;
}

bool pct::DocumentInquiry(const wxString& number_) {
    if (!session.Connect(kOps))
        return false;
    if (TestDestroy())
        return false;
    session.m_postData = PctInquiryEnvelope(number_);
    session.SetMaxBodyBytes(kMaxSoapInquiryAnswer);
    std::unique_ptr<wxInputStream> in;
    const bool answered = RetryWithCountdown(
        [&] {
            in = session.Request(kOpsPath);
            return in != nullptr;
        },
        [](int n) { return wxString::Format("Error Downloading PCT Reconnecting in %is", n); });
    if (!answered)
        return false;
    return ParsePctInquiryAnswer(*in, system, docId, pageCount);
}

bool pct::DocumentRetrieval(pdfWriter& writer, unsigned long p) {
    if (!session.Connect(kOps))
        return false;
    if (TestDestroy())
        return false;
    session.m_postData = PctRetrievalEnvelope(docId, system, p);
    session.SetMaxBodyBytes(kMaxSoapPageAnswer);
    pageError = session.GetError();
    std::unique_ptr<wxInputStream> in(session.Request(kOpsPath));
    pageError = session.GetError();
    if (!in)
        return false;
    if (session.m_status != 200)
        return false;
    if (!PositionAtPageImage(*in)) {
        // A worker never shows a box; the countdown's status names the failure.
        pageError = "bad tiff";
        return false;
    }
    if (writer.AddPage(*in))
        return true;
    pageError = writer.m_message;
    return false;
}
