// The EPO job: any publication the EPO's Open Patent Services hold (EP, WO, US and most
// other offices), fetched page by page over HTTPS with the user's key.
#pragma once

#include "opsInquiry.h"
#include "opsNumber.h"
#include "opsPacer.h"
#include "opsToken.h"
#include "ziv2ize.h"

#include <string>

class pdfWriter;
struct httpAnswer;

class ops : public ziv2ize {
public:
    ops(int id, const JobInput& input, const OpsCredentials& key);
    ~ops() override;

    // The PDF's name for a typed number, empty when the EPO cannot name it.
    static wxString PdfName(const wxString& number);
    static wxString PdfName(const OpsNumber& mapped);

    // Ceilings of the answers: far above the largest real one (an inquiry is a few kB, a
    // page 30 to 300 kB).
    static constexpr size_t kMaxInquiryAnswer = kMaxOpsInquiryBytes;
    static constexpr size_t kMaxPageAnswer = size_t(16) << 20;
    // A page the service sends damaged this many times in a row ends the document.
    static constexpr int kMaxDamagedAnswers = 3;

protected:
    ExitCode Entry() override;

private:
    // How one request to the service ended.
    enum class Outcome {
        Answer,    // an answer is in `answer` (any status), or none came (status 0)
        Final,     // the job ends; its status is posted
        Cancelled, // the job was told to stop
    };
    // One GET of a path under rest-services/: waits for its turn, carries the token,
    // renews a rejected token once and replays, waits out a black light and the hourly
    // quota, and ends the job on a refused key or the weekly quota.
    Outcome Call(OpsService service, const wxString& path, const char* accept, httpAnswer& answer);
    // A token for the key; posts the final status when the key is refused.
    Outcome Token(std::string& token);
    OpsTokenAnswer FetchToken();
    // Waits for the pacer's turn; a suspended service shows its countdown.
    bool WaitTurn(OpsService service);
    // Posts again what the row showed before a wait (the page being fetched).
    void PostActivity();
    // Ten steps of a minute each (of the countdown's time scale), with their status.
    bool HourlyCountdown();

    bool FetchInquiry(OpsInstance& chosen);
    Outcome AddPage(pdfWriter& writer, const OpsInstance& doc, int page, bool& added);
    bool AddPages(pdfWriter& writer, const OpsInstance& doc);

    const OpsCredentials m_key;
    OpsNumber m_number;
    wxString m_shown;           // "EP 1000000 B1": the publication taken, as the row shows it
    int m_page = 0;             // the page being fetched, 0 before the pages
    int m_pageCount = 0;        // pages of the publication taken
    wxString m_lastError;       // of the last failed request, for the countdown text
    bool m_pageMissing = false; // the last page asked for is not there (404)
    bool m_pageDamaged = false; // the last page came whole but could not be read
    wxString m_activity;        // what the row showed before a wait, shown again after it
};
