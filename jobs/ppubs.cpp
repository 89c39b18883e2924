#include "ppubs.h"

#include "pdfWriter.h"
#include "ppubsDocument.h"
#include "usNumber.h"

bool ppubs::QueryFor(const wxString& typed, std::string& pnNumber, std::string& database) {
    const UsNumber us = RecogniseUsNumber(typed);
    PpubsQuery query;
    if (us.serial || us.docid.empty() || !PpubsQueryFor(us.number.ToStdString(), query))
        return false;
    pnNumber = query.number;
    database = query.database;
    return true;
}

ppubs::ppubs(int id_, const JobInput& input, const OpsCredentials& key)
    : ops(id_, input, key), m_fallback(!key.key.empty() && !key.secret.empty()) {}

bool ppubs::HasKey() const {
    return m_fallback;
}

wxThread::ExitCode ppubs::AskEpo(const wxString& why) {
    PostStatus(why + ", Asking the EPO");
    return ops::Entry();
}

wxThread::ExitCode ppubs::Entry() {
    if (!session.m_ok) {
        PostStatus("Error Initializing WinInet!");
        return 0;
    }
    PpubsQuery query;
    if (!QueryFor(number, query.number, query.database)) {
        if (HasKey())
            return ops::Entry();
        PostStatus("Unknown Patent/Application Format");
        return 0;
    }
    const wxString name = RecogniseUsNumber(number).number;
    if (PreviouslyDownloaded(name + ".pdf"))
        return 0;

    PpubsHooks hooks;
    hooks.pause = [this](long long ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!TestDestroy()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return true;
            Sleep(static_cast<unsigned long>(std::min<long long>(left, 20)));
        }
        return false;
    };
    hooks.status = [this](const wxString& text) { PostStatus(text); };
    ppubsClient client(session, hooks);
    PpubsFetch fetch;
    fetch.status = hooks.status;
    fetch.page = [this](const wxString& text, int, int) { PostStatus(text); };
    fetch.makeWriter = [this](int pages, const PdfDocumentInfo& info) {
        return std::unique_ptr<pdfWriter>(new pdfWriter(output.GetFullPath(), pages, info));
    };

    for (int failed = 0;;) {
        std::unique_ptr<pdfWriter> writer;
        wxString error;
        switch (FetchPpubsDocument(client, query, fetch, writer, error)) {
        case PpubsOutcome::Ok:
            FinishPdf(*writer);
            return 0;
        case PpubsOutcome::Cancelled:
            return 0;
        case PpubsOutcome::NotFound:
            if (HasKey())
                return AskEpo("Not at the USPTO");
            PostStatus("Not Found!");
            return 0;
        case PpubsOutcome::Final:
            PostStatus("Error " + error);
            return 0;
        case PpubsOutcome::Retry:
            if (HasKey() && ++failed >= kAttemptsBeforeEpo)
                return AskEpo("USPTO Unreachable (" + error + ")");
            break;
        }
        const bool waited = Countdown(
            [&error](int n) { return wxString::Format("Error %s Reconnecting in %is", error, n); });
        if (!waited)
            return 0;
    }
}
