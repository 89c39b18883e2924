#include "uspto.h"

#include "jobHosts.h"
#include "jobText.h"
#include "pdfWriter.h"
#include "usNumber.h"

#include <wx/mstream.h>

#include <memory>

using namespace jobhosts;

namespace {

const char kNumPagesMark[] = "<!-- NumPages=";
const char kNumPagesEnd[] = " -->";
const char kEmbedMark[] = "embed src=";
const char kEmbedEnd[] = "\" width=";
const char kPageNumMark[] = "PageNum=";
const char kSearchMark[] =
    "/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2Fsearch-adv.html";

} // namespace

bool ParseUsPageList(wxInputStream& in, UsPageList& out, const std::function<bool()>& cancelled) {
    out = UsPageList();
    wxString line;
    while (!jobtext::AtEnd(in)) {
        jobtext::ReadLine(in, line);
        if (cancelled && cancelled())
            return false;
        size_t at = line.find(kNumPagesMark);
        if (at != wxString::npos) {
            line = line.Mid(at + strlen(kNumPagesMark));
            const size_t end = line.find(kNumPagesEnd);
            if (end != wxString::npos) {
                out.numPages = jobtext::LeadingLong(line.Left(end));
                out.listState = PageListState::CountFound;
            }
        }
        at = line.find(kEmbedMark);
        if (at == wxString::npos)
            continue;
        // The path starts behind the opening quote; a tag split over lines is joined.
        wxString text = line.Mid(at + strlen(kEmbedMark) + 1);
        size_t end = text.find(kEmbedEnd);
        while (end == wxString::npos && !jobtext::AtEnd(in)) {
            const size_t searchFrom = text.length() >= 7 ? text.length() - 7 : 0;
            wxString next;
            jobtext::ReadLine(in, next);
            text += next;
            end = text.find(kEmbedEnd, searchFrom);
        }
        if (end != wxString::npos)
            out.embedPath = text.Left(end);
    }

    if (out.numPages <= 0 || out.numPages > kMaxPages || out.embedPath.empty() ||
        out.embedPath.length() * static_cast<size_t>(out.numPages) > kMaxPageListCharacters)
        return true;
    const size_t at = out.embedPath.find(kPageNumMark);
    if (at == wxString::npos)
        return true;
    // Exactly one character, the first page's digit, gives way to the page number.
    const wxString prefix = out.embedPath.Left(at + strlen(kPageNumMark));
    const wxString suffix = out.embedPath.Mid(at + strlen(kPageNumMark) + 1);
    out.pages.reserve(out.numPages);
    for (long i = 1; i <= out.numPages; ++i)
        out.pages.push_back(wxString::Format("%s%li%s", prefix, i, suffix));
    return true;
}

bool ParseUsPageListText(const wxString& text, UsPageList& out) {
    const wxScopedCharBuffer bytes = text.To8BitData();
    wxMemoryInputStream in(bytes.data(), bytes.length());
    return ParseUsPageList(in, out);
}

UsLocation UsPageListLocation(const wxString& docid) {
    const long v = jobtext::LeadingLong(docid.Left(2));
    UsLocation loc;
    if (IsPublicationDocid(docid)) {
        loc.host = v < 50 ? kApplicationPrimary : kApplicationSecondary;
        loc.path = "/.aiw?Docid=" + docid + "&idkey=NONE";
    } else {
        loc.host = v < 50 ? kPatentPrimary : kPatentSecondary;
        loc.path = "/.piw?Docid=" + docid + "&idkey=NONE";
    }
    return loc;
}

wxString UsSearchPath(const wxString& lookupText) {
    const long series = jobtext::LeadingLong(lookupText.BeforeFirst('/'));
    wxString path = "/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2Fsearch-"
                    "adv.html&r=0&p=1&f=S&l=50&Query=APN%2F";
    path += lookupText.AfterFirst('/');
    path += "+and+APD%2F";
    if (series == 11)
        path += "12%2F1%2F2004-%3E12%2F31%2F2100";
    else if (series == 10)
        path += "12%2F1%2F2001-%3E12%2F31%2F2004";
    else if (series == 9)
        path += "1%2F1%2F1998-%3E12%2F31%2F2001";
    path += "&d=PG01";
    return path;
}

wxString ParseUsSearchAnswer(wxInputStream& in, const std::function<bool()>& cancelled) {
    wxString line;
    while (!jobtext::AtEnd(in)) {
        if (cancelled && cancelled())
            return wxString();
        jobtext::ReadLine(in, line);
        const size_t at = line.find(kSearchMark);
        if (at == wxString::npos)
            continue;
        line = line.Mid(at);
        const size_t gt = line.find('>');
        if (gt != wxString::npos)
            line = line.Mid(gt + 1);
        const size_t end = line.find("</A>");
        if (end != wxString::npos)
            return line.Left(end);
    }
    return wxString();
}

wxString ParseUsSearchAnswerText(const wxString& text) {
    const wxScopedCharBuffer bytes = text.To8BitData();
    wxMemoryInputStream in(bytes.data(), bytes.length());
    return ParseUsSearchAnswer(in);
}

wxString uspto::PdfName(const UsNumber& recognised) {
    if (!recognised.serial && recognised.docid.empty())
        return wxString();
    return recognised.number + ".pdf";
}

wxString uspto::PdfName(const wxString& number) {
    return PdfName(RecogniseUsNumber(number));
}

uspto::uspto(int id_, const JobInput& input)
    : ziv2ize(id_, input), listState(PageListState::CountFound) {}

uspto::~uspto() {}

wxThread::ExitCode uspto::Entry() {
    if (!session.m_ok) {
        PostStatus(JobPhase::Failed, "Error Initializing WinInet!");
        return 0;
    }

    const UsNumber recognised = RecogniseUsNumber(number);
    number = recognised.number;
    wxString docid = recognised.docid;
    if (recognised.serial) {
        const wxString publication = LookupPublicationNumber(recognised.lookupText);
        if (publication.empty()) {
            PostStatus(JobPhase::NotFound, "Serial Number Not Found");
            return 0;
        }
        // Whatever the search answer holds, it can only be one query value of the next URL.
        docid = jobtext::PercentEncode(publication);
    } else if (docid.empty()) {
        PostStatus(JobPhase::UnknownFormat, kUnknownFormatStatus);
        return 0;
    }

    PostStatus(JobPhase::LookingUp, "Downloading");
    if (PreviouslyDownloaded(PdfName(recognised)))
        return 0;
    if (TestDestroy())
        return 0;

    const bool listed = RetryWithCountdown(
        [&] { return FetchPageList(docid); },
        [this](int n) {
            return wxString::Format("%s Error Downloading Tiff List Reconnecting in %i", lastError,
                                    n);
        });
    if (!listed)
        return 0;
    if (listState == PageListState::NoCount) {
        PostStatus(JobPhase::Failed, "Error Downloading Check Proxy");
        return 0;
    }
    if (pages.empty()) {
        PostStatus(JobPhase::NotFound, "Not Found");
        return 0;
    }
    if (TestDestroy())
        return 0;

    {
        pdfWriter writer(output.GetFullPath(), static_cast<int>(pages.size()));
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

// True when every page is in the PDF, false when the job ends without it.
bool uspto::AddPages(pdfWriter& writer) {
    const int count = static_cast<int>(pages.size());
    session.SetMaxBodyBytes(kMaxPageAnswer);
    for (int i = 1; i <= count; ++i) {
        if (TestDestroy())
            return false;
        PostPage(wxString::Format("Downloading page %i of %i", i, count), i, count);
        // A page that can never be added ends the tries; it is said below.
        const bool tried = RetryWithCountdown(
            [&] { return writer.AddPageFromServer(session, pages[i - 1]) || !writer.m_ok; },
            [&writer](int n) {
                return wxString::Format("%s Error Downloading Page Reconencting in %is",
                                        writer.m_message, n);
            },
            false);
        if (!tried)
            return false;
        if (TestDestroy())
            return false;
        if (!writer.m_ok) {
            PostStatus(JobPhase::Failed, wxString::Format("%s Error Downloading page %d %s",
                                                          writer.m_message, i, writer.m_message));
            return false;
        }
        PostUsptoPage();
    }
    return true;
}

bool uspto::FetchPageList(const wxString& docid) {
    listState = PageListState::CountFound;
    const UsLocation location = UsPageListLocation(docid);

    if (TestDestroy())
        return false;
    if (!session.Connect(location.host)) {
        listState = PageListState::NoAnswer;
        lastError = "Connection Error" + session.GetError();
        return false;
    }
    if (TestDestroy())
        return false;
    session.SetMaxBodyBytes(kMaxPageListAnswer);
    std::unique_ptr<wxInputStream> in(session.Request(location.path));
    if (!in) {
        listState = PageListState::NoAnswer;
        lastError = "Connection Error2";
        return false;
    }
    if (!in->IsOk()) {
        listState = PageListState::NoAnswer;
        lastError = "Connection Error3";
        return false;
    }

    listState = PageListState::NoCount;
    UsPageList list;
    if (!ParseUsPageList(*in, list, [this] { return TestDestroy(); }))
        return false;
    listState = list.listState;
    pages = std::move(list.pages);
    return true;
}

wxString uspto::LookupPublicationNumber(const wxString& text) {
    const wxString path = UsSearchPath(text);
    if (TestDestroy())
        return wxString();

    httpSession search(connection);
    WatchSession(search);
    search.SetMaxBodyBytes(kMaxSearchAnswer);
    if (!search.m_ok) {
        // A session that could not be made will not be made by waiting either.
        PostStatus(JobPhase::Failed, wxString::Format("Error %s", search.GetError()));
        return wxString();
    }
    const bool connected = RetryWithCountdown(
        [&] { return search.Connect(kSearch); },
        [&search](int n) {
            return wxString::Format("Error %s Reconnecting in %is", search.GetError(), n);
        });
    if (!connected)
        return wxString();

    std::unique_ptr<wxInputStream> in;
    const bool answered = RetryWithCountdown(
        [&] {
            in = search.Request(path);
            return in != nullptr;
        },
        [](int n) {
            return wxString::Format("Error downloading publication number reconencting in %is", n);
        });
    if (!answered)
        return wxString();
    if (!in->IsOk()) {
        PostStatus(JobPhase::Failed,
                   "Error Opening TextInputStream when downloading publication number");
        return wxString();
    }
    return ParseUsSearchAnswer(*in, [this] { return TestDestroy(); });
}
