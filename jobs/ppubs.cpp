#include "ppubs.h"

#include "pdfWriter.h"
#include "ppubsDocument.h"

#include <chrono>

bool ppubs::QueryFor(const wxString& number, PpubsQuery& query, bool anyKind) {
    const OpsNumber mapped = MapOpsNumber(number);
    if (!mapped.ok || mapped.country != "US" || (!mapped.kind.empty() && !anyKind))
        return false;
    // The name is the number as the USPTO writes it, with the kind after it.
    wxString name = mapped.name;
    if (!mapped.kind.empty() && name.EndsWith(mapped.kind))
        name.RemoveLast(mapped.kind.length());
    return PpubsQueryFor(name.ToStdString(), query);
}

wxString ppubs::PdfName(const wxString& number) {
    return ops::PdfName(number);
}

ppubs::ppubs(int id_, const JobInput& input, const OpsCredentials& key)
    : ops(id_, input, key), m_fallback(!key.empty()) {}

wxThread::ExitCode ppubs::AskEpo(const wxString& why) {
    PostStatus(JobPhase::LookingUp, why + ", Asking the EPO");
    return ops::Entry();
}

wxThread::ExitCode ppubs::Entry() {
    if (!session.m_ok) {
        PostStatus(JobPhase::Failed, wxString::Format("Error Preparing the HTTPS Connection: %s",
                                                      session.GetError()));
        return 0;
    }
    PpubsQuery query;
    if (!QueryFor(number, query, !m_fallback)) {
        if (m_fallback)
            return ops::Entry();
        PostStatus(JobPhase::UnknownFormat, kUnknownFormatStatus);
        return 0;
    }
    if (PreviouslyDownloaded(PdfName(number)))
        return 0;

    PpubsHooks hooks;
    hooks.pause = [this](long long ms) { return Pause(ms); };
    // A wait the service asked for is a countdown of its own.
    hooks.status = [this](const wxString& text) { PostStatus(JobPhase::Countdown, text); };
    ppubsClient client(session, hooks);
    PpubsFetch fetch;
    fetch.status = [this](const wxString& text) { PostStatus(JobPhase::LookingUp, text); };
    fetch.page = [this](const wxString& text, int page, int count) { PostPage(text, page, count); };
    fetch.makeWriter = [this](int pages, const PdfDocumentInfo& info) {
        return std::unique_ptr<pdfWriter>(new pdfWriter(output.GetFullPath(), pages, info));
    };

    int failed = 0;
    wxString error, epoBecause;
    RetryWithCountdown(
        [&]() {
            std::unique_ptr<pdfWriter> writer;
            switch (FetchPpubsDocument(client, query, fetch, writer, error)) {
            case PpubsOutcome::Ok:
                FinishPdf(*writer);
                return Attempt::Done;
            case PpubsOutcome::Cancelled:
                return Attempt::Stop;
            case PpubsOutcome::NotFound:
                if (m_fallback)
                    epoBecause = "Not at the USPTO";
                else
                    PostStatus(JobPhase::NotFound, "Not Found!");
                return Attempt::Stop;
            case PpubsOutcome::Final:
                PostStatus(JobPhase::Failed, "Error " + error);
                return Attempt::Stop;
            case PpubsOutcome::Retry:
                break;
            }
            if (m_fallback && ++failed >= kAttemptsBeforeEpo) {
                epoBecause = "USPTO Unreachable (" + error + ")";
                return Attempt::Stop;
            }
            return Attempt::Again;
        },
        [&error](int n) { return wxString::Format("Error %s Reconnecting in %is", error, n); });
    if (!epoBecause.empty() && !TestDestroy())
        return AskEpo(epoBecause);
    return 0;
}
