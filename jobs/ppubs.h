// The USPTO job: a US patent or publication from the USPTO's Patent Public Search, no key
// needed. With an EPO key it hands the number to the EPO job when the USPTO has no such
// document, or when the USPTO cannot be reached three times in a row.
#pragma once

#include "ops.h"

#include <string>

struct PpubsQuery;

class ppubs : public ops {
public:
    // key: the user's EPO key, empty when none is set (then there is no fallback).
    ppubs(int id, const JobInput& input, const OpsCredentials& key);

    // The query for a typed US number ("5123456", "D645062", "US20160009839"); false for
    // what the Patent Public Search is not asked for: serials, other countries, and a kind
    // code unless anyKind (the EPO takes kind codes when there is a key).
    static bool QueryFor(const wxString& number, PpubsQuery& query, bool anyKind = false);
    // The PDF's name: as the EPO job names the same number, so a fallback writes the same file.
    static wxString PdfName(const wxString& number);

    // Failed attempts in a row on an unreachable USPTO before the EPO is asked.
    static constexpr int kAttemptsBeforeEpo = 3;

protected:
    ExitCode Entry() override;

private:
    // The rest of the document through the EPO job, after saying why.
    ExitCode AskEpo(const wxString& why);
    const bool m_fallback; // an EPO key is there
};
