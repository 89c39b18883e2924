// The USPTO job: a US patent or publication from the USPTO's Patent Public Search, no key
// needed. With an EPO key it hands the number to the EPO job when the USPTO has no such
// document, or when the USPTO cannot be reached three times in a row.
#pragma once

#include "ops.h"

#include <string>

class ppubs : public ops {
public:
    // key: the user's EPO key, empty when none is set (then there is no fallback).
    ppubs(int id, const JobInput& input, const OpsCredentials& key);

    // The query for a typed US number, false when the number is no form the Patent Public
    // Search is asked for (serials, kind codes, other countries).
    static bool QueryFor(const wxString& typed, std::string& pnNumber, std::string& database);

    // Failed attempts in a row on an unreachable USPTO before the EPO is asked.
    static constexpr int kAttemptsBeforeEpo = 3;

protected:
    ExitCode Entry() override;

private:
    bool HasKey() const;
    // The rest of the document through the EPO job, after saying why.
    ExitCode AskEpo(const wxString& why);
    const bool m_fallback;
};
