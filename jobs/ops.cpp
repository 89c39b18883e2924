#include "ops.h"

#include "httpSession.h"
#include "pdfWriter.h"
#include "remoteHosts.h"
#include "tiffReader.h"

#include <wx/mstream.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace {

// Where the service lives; tests and the sample service reach the same name through a proxy.
const wxString kRestBase = wxString(remotehosts::kEpoOpsBase) + "rest-services/";

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// The service answers 400 with this message (and an invalid_token challenge) when the
// token expired or is unknown.
bool InvalidToken(const httpAnswer& a) {
    return a.status == 400 && (Contains(a.body, "invalid_access_token") ||
                               Contains(a.Header("WWW-Authenticate"), "invalid_token"));
}

// The text between <tag> and </tag> of a fault answer, when short.
std::string Element(const std::string& body, const char* tag) {
    const std::string open = std::string("<") + tag + ">", close = std::string("</") + tag + ">";
    const size_t from = body.find(open);
    if (from == std::string::npos)
        return std::string();
    const size_t to = body.find(close, from);
    if (to == std::string::npos || to - from > 80)
        return std::string();
    return body.substr(from + open.size(), to - from - open.size());
}

// The service's fault code ("SERVER.EntityNotFound"), empty when there is none.
std::string FaultCode(const std::string& body) {
    return Element(body, "code");
}

// A short reason for a failed answer, fit for a status text: the fault code, or for the
// answers whose code is only the status, their message.
wxString Reason(const httpAnswer& a) {
    std::string code = FaultCode(a.body);
    if (!code.empty() && code.find_first_not_of("0123456789") == std::string::npos)
        code = Element(a.body, "message");
    bool plain = !code.empty();
    for (char c : code)
        plain = plain && (isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_');
    if (plain)
        return wxString::Format("%ld %s", a.status, code.c_str());
    return wxString::Format("Server Error %ld", a.status);
}

// Whether the writer takes the TIFF as it is (its own rules for a page it embeds): one
// strip of CCITT fax coding, one bit per pixel, white is zero, the strip within the bytes.
// Anything else goes the way of the page's PDF form, never through re-encoding.
bool TiffKeptUnchanged(const std::string& bytes) {
    wxMemoryInputStream in(bytes.data(), bytes.size());
    tiffReader tiff(in);
    if (!tiff.m_ok)
        return false;
    const bool uncompressedMode = (tiff.m_compression == 3 && (tiff.m_t4Options & 2)) ||
                                  (tiff.m_compression == 4 && (tiff.m_t6Options & 2));
    return tiff.m_photometric == 0 && (tiff.m_compression == 3 || tiff.m_compression == 4) &&
           !uncompressedMode && tiff.m_bitsPerSample == 1 && tiff.m_width > 0 &&
           tiff.m_height > 0 && tiff.m_stripOffsets.size() == 1 &&
           tiff.m_stripByteCounts.size() == 1 && tiff.m_stripByteCounts[0] > 0 &&
           tiff.StripsInData();
}

} // namespace

wxString ops::PdfName(const OpsNumber& mapped) {
    return mapped.ok ? mapped.name + ".pdf" : wxString();
}

wxString ops::PdfName(const wxString& number) {
    return PdfName(MapOpsNumber(number));
}

void ops::PostActivity() {
    if (!m_activity.empty())
        PostPage(m_activity, m_page, m_pageCount);
}

ops::ops(int id_, const JobInput& input, const OpsCredentials& key)
    : ziv2ize(id_, input), m_key(key) {
    number = input.number;
}

ops::~ops() {}

bool ops::HourlyCountdown() {
    return Countdown(
        [](int n) { return wxString::Format("EPO Hourly Quota Used Up, Retrying in %i min", n); },
        true, 60);
}

bool ops::WaitTurn(OpsService service) {
    opsPacer& pacer = opsPacer::Instance();
    long shown = -1;
    for (;;) {
        bool suspended = false;
        const long long wait = pacer.Turn(service, &suspended).count();
        if (wait == 0) {
            if (shown >= 0)
                PostActivity();
            return true;
        }
        if (suspended) {
            // The service asked to wait (black light): the row counts the seconds down.
            const long seconds = static_cast<long>((wait + 999) / 1000);
            if (seconds != shown) {
                shown = seconds;
                PostStatus(JobPhase::Countdown,
                           m_page > 0
                               ? wxString::Format("EPO Asks to Wait, Resuming Page %i in %lis",
                                                  m_page, seconds)
                               : wxString::Format("EPO Asks to Wait, Resuming in %lis", seconds));
            }
        }
        if (!Pause(std::min<long long>(wait, 250)))
            return false;
    }
}

OpsTokenAnswer ops::FetchToken() {
    return RequestOpsToken(session, m_key);
}

ops::Outcome ops::Token(std::string& token) {
    Outcome outcome = Outcome::Cancelled;
    wxString error;
    RetryWithCountdown(
        [&] {
            const opsTokens::Result r = opsTokens::Instance().Get(
                m_key, [this] { return FetchToken(); }, [this] { return TestDestroy(); }, token,
                error);
            if (r == opsTokens::Result::Ok) {
                outcome = Outcome::Answer;
                return Attempt::Done;
            }
            if (r == opsTokens::Result::Refused && !TestDestroy()) {
                PostStatus(JobPhase::Failed,
                           "EPO Refused the Key! Check the Consumer Key and Secret in Setup");
                outcome = Outcome::Final;
                return Attempt::Stop;
            }
            return r == opsTokens::Result::Cancelled ? Attempt::Stop : Attempt::Again;
        },
        [&error](int n) {
            return wxString::Format("Error %s Getting EPO Access Reconnecting in %is", error, n);
        });
    return outcome;
}

ops::Outcome ops::Call(OpsService service, const wxString& path, const char* accept,
                       httpAnswer& answer) {
    bool renewed = false;
    // A black light that asks for no wait at all would make us ask again at once without
    // end: at least a second, doubling while the light stays black.
    long long leastBlackWaitMs = 1000;
    for (;;) {
        if (!WaitTurn(service))
            return Outcome::Cancelled;
        std::string token;
        const Outcome got = Token(token);
        if (got != Outcome::Answer)
            return got;
        if (TestDestroy())
            return Outcome::Cancelled;

        answer = httpAnswer();
        const std::vector<std::string> headers = {"Authorization: Bearer " + token,
                                                  std::string("Accept: ") + accept,
                                                  std::string("User-Agent: ") + kOpsUserAgent};
        session.SetMaxBodyBytes(service == OpsService::Images ? kMaxPageAnswer : kMaxInquiryAnswer);
        if (!session.Exchange(kRestBase + path, headers, std::string(), answer)) {
            if (TestDestroy())
                return Outcome::Cancelled;
            answer.status = 0;
            m_lastError = session.GetError();
            m_lastError.Trim();
            return Outcome::Answer;
        }
        opsPacer& pacer = opsPacer::Instance();
        pacer.Observe(answer.Header("X-Throttling-Control"));
        pacer.NoteWeekUsed(answer.Header("X-RegisteredQuotaPerWeek-Used"));

        if (InvalidToken(answer)) {
            // Expired or unknown: a new token, and the same request once more. Refused
            // again, the request fails (and counts down); the next attempt starts afresh.
            opsTokens::Instance().Rejected(m_key, token);
            if (!renewed) {
                renewed = true;
                continue;
            }
        }
        if (answer.status == 403) {
            const std::string reason = answer.Header("X-Rejection-Reason");
            if (Contains(reason, "RegisteredQuotaPerWeek")) {
                PostStatus(JobPhase::Failed, "EPO Weekly Quota Used Up! Try Again Next Week");
                return Outcome::Final;
            }
            if (Contains(reason, "ThrottlingControlQuota")) {
                const long long asked = ParseRetryAfterMs(answer.Header("Retry-After"));
                pacer.Suspend(service,
                              std::chrono::milliseconds(std::max(asked, leastBlackWaitMs)));
                leastBlackWaitMs = std::min(leastBlackWaitMs * 2, 60000LL);
                continue;
            }
            if (Contains(reason, "QuotaPer")) { // hourly, and the anonymous ones
                if (!HourlyCountdown())
                    return Outcome::Cancelled;
                PostActivity();
                continue;
            }
        }
        if (answer.status != 200)
            m_lastError = Reason(answer);
        return Outcome::Answer;
    }
}

bool ops::FetchInquiry(OpsInstance& chosen) {
    const wxString path = m_number.InquiryPath();
    return RetryWithCountdown(
        [&] {
            httpAnswer answer;
            if (Call(OpsService::Retrieval, path, "application/xml", answer) != Outcome::Answer)
                return Attempt::Stop;
            if (answer.status == 404 && FaultCode(answer.body) == "SERVER.EntityNotFound") {
                PostStatus(JobPhase::NotFound, "Not Found!");
                return Attempt::Stop;
            }
            std::vector<OpsInstance> instances;
            if (answer.status == 200) {
                if (ParseOpsInquiry(answer.body, instances)) {
                    const int at = ChooseOpsInstance(instances, m_number.kind);
                    if (at < 0) {
                        PostStatus(JobPhase::NotFound, "Not Found!");
                        return Attempt::Stop;
                    }
                    chosen = instances[at];
                    return Attempt::Done;
                }
                m_lastError = "Unreadable Answer";
            }
            return Attempt::Again;
        },
        [this](int n) {
            return wxString::Format("Error %s Downloading Page List Reconnecting in %is",
                                    m_lastError, n);
        });
}

// One page into the writer: its TIFF when that can go in unchanged, else the same page as
// PDF. Outcome::Answer with added set when it went in; otherwise m_lastError says why,
// m_pageMissing that the service has no such page, m_pageDamaged that its answer came whole
// but could not be read, and a writer no longer ok that the page can never be kept.
ops::Outcome ops::AddPage(pdfWriter& writer, const OpsInstance& doc, int page, bool& added) {
    added = false;
    httpAnswer answer;
    Outcome o = Call(OpsService::Images, wxString::Format("%s.tiff?Range=%i", doc.link, page),
                     "application/tiff", answer);
    m_pageMissing = answer.status == 404 && FaultCode(answer.body) == "SERVER.EntityNotFound";
    m_pageDamaged = false;
    if (o != Outcome::Answer || answer.status != 200)
        return o;
    // The bytes decide what the page is, not the Content-Type.
    if (TiffKeptUnchanged(answer.body)) {
        wxMemoryInputStream in(answer.body.data(), answer.body.size());
        added = writer.AddPage(in);
        if (!added) {
            m_lastError = writer.m_message;
            m_pageDamaged = true;
        }
        return Outcome::Answer;
    }
    o = Call(OpsService::Images, wxString::Format("%s.pdf?Range=%i", doc.link, page),
             "application/pdf", answer);
    if (o != Outcome::Answer || answer.status != 200)
        return o;
    wxMemoryInputStream in(answer.body.data(), answer.body.size());
    added = writer.AddPdfPage(in);
    if (!added) {
        m_lastError = writer.m_message;
        m_pageDamaged = true;
    }
    return Outcome::Answer;
}

bool ops::AddPages(pdfWriter& writer, const OpsInstance& doc) {
    const int count = static_cast<int>(doc.pages);
    m_pageCount = count;
    for (int i = 1; i <= count; ++i) {
        m_page = i;
        if (TestDestroy())
            return false;
        int damaged = 0; // answers in a row that came whole but could not be read
        const bool added = RetryWithCountdown(
            [&] {
                m_activity = wxString::Format("Downloading %s page %i of %i", m_shown, i, count);
                PostActivity();
                bool pageAdded = false;
                if (AddPage(writer, doc, i, pageAdded) != Outcome::Answer)
                    return Attempt::Stop;
                if (pageAdded)
                    return Attempt::Done;
                if (m_pageMissing) {
                    // The inquiry promised the page; asking again would get the same answer.
                    PostStatus(JobPhase::Failed, wxString::Format("Error Page %i Not Found!", i));
                    return Attempt::Stop;
                }
                if (!writer.m_ok) {
                    PostStatus(JobPhase::Failed,
                               wxString::Format("Error Page %i Cannot Be Kept Unchanged: %s", i,
                                                writer.m_message));
                    return Attempt::Stop;
                }
                damaged = m_pageDamaged ? damaged + 1 : 0;
                if (damaged >= kMaxDamagedAnswers) {
                    // The service keeps sending the same unreadable page: waiting will not
                    // mend it.
                    PostStatus(JobPhase::Failed,
                               wxString::Format("Error Page %i Damaged: %s", i, m_lastError));
                    return Attempt::Stop;
                }
                return Attempt::Again;
            },
            [this](int n) {
                return wxString::Format("Error %s Downloading Page Reconnecting in %is",
                                        m_lastError, n);
            },
            false);
        if (!added)
            return false;
    }
    return true;
}

wxThread::ExitCode ops::Entry() {
    if (!session.m_ok) {
        PostStatus(JobPhase::Failed, wxString::Format("Error Preparing the HTTPS Connection: %s",
                                                      session.GetError()));
        return 0;
    }
    m_number = MapOpsNumber(number);
    if (!m_number.ok) {
        PostStatus(JobPhase::UnknownFormat, kUnknownFormatStatus);
        return 0;
    }
    PostStatus(JobPhase::LookingUp, "Downloading from ops.epo.org");
    if (PreviouslyDownloaded(PdfName(m_number)))
        return 0;
    if (TestDestroy())
        return 0;

    OpsInstance doc;
    if (!FetchInquiry(doc))
        return 0;
    // The publication taken, as the user sees it in the row.
    m_shown = doc.kind.empty() ? m_number.Display()
                               : m_number.country + " " + m_number.number + " " + doc.kind;
    SetPublication(m_shown);
    if (TestDestroy())
        return 0;

    // The file tells which publication it holds, and its bookmarks follow the sections.
    PdfDocumentInfo info;
    info.subject = m_shown;
    for (const OpsSection& section : doc.sections)
        info.sections.push_back({section.name, static_cast<int>(section.startPage)});
    pdfWriter writer(output.GetFullPath(), static_cast<int>(doc.pages), info);
    if (!writer.m_ok) {
        PostStatus(JobPhase::Failed, "Error Opening PDF");
        return 0;
    }
    if (!AddPages(writer, doc))
        return 0; // the writer, going out of scope, removes the incomplete file
    FinishPdf(writer);
    return 0;
}
