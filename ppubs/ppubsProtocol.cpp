#include "ppubsProtocol.h"

#include "ppubsJson.h"

#include <cctype>
#include <cstdio>

namespace {

bool AllDigits(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// Only these characters in what goes into a path, a header or a request body.
bool Plain(const std::string& s, size_t longest, const char* extra) {
    if (s.empty() || s.size() > longest)
        return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) &&
            std::string(extra).find(c) == std::string::npos)
            return false;
    return true;
}

std::string Padded(const std::string& digits, size_t width) {
    return digits.size() >= width ? digits : std::string(width - digits.size(), '0') + digits;
}

std::string InnerQuery(const PpubsQuery& q, long long caseId) {
    // The number is letters and digits only (PpubsQueryFor): nothing to escape.
    const std::string text = "\"\\\"" + q.number + "\\\".PN.\"";
    return "{\"caseId\":" + std::to_string(caseId) +
           ",\"hl_snippets\":\"2\",\"op\":\"OR\",\"q\":" + text + ",\"queryName\":" + text +
           ",\"highlights\":\"1\",\"qt\":\"brs\",\"spellCheck\":false,\"viewName\":\"tile\","
           "\"plurals\":true,\"britishEquivalents\":true,\"databaseFilters\":[{\"databaseName\":"
           "\"" +
           q.database +
           "\",\"countryCodes\":[]}],\"searchType\":1,\"ignorePersist\":true,"
           "\"userEnteredQuery\":" +
           text + "}";
}

const std::string* StringMember(const JsonValue& v, const char* key) {
    const JsonValue* m = v.Get(key);
    return m && m->IsString() ? &m->text : nullptr;
}

// Parses body as one JSON value of type; `what` names the answer in the error.
bool ParseJsonAs(const std::string& body, JsonValue::Type type, const char* what,
                 const char* typeName, JsonValue& v, std::string& error) {
    if (!ParseJson(body, v, error)) {
        error = std::string(what) + " unreadable (" + error + ")";
        return false;
    }
    if (v.type != type) {
        error = std::string(what) + " is no " + typeName;
        return false;
    }
    return true;
}

} // namespace

bool PpubsQueryFor(const std::string& n, PpubsQuery& query) {
    query = PpubsQuery();
    if (AllDigits(n)) {
        if (n[0] == '0')
            return false; // normalised numbers carry no leading zero; the index has none
        if (n.size() == 11) {
            query = {n, "US-PGPUB"};
            return true;
        }
        if (n.size() > 8)
            return false;
        query = {n, "USPAT"};
        return true;
    }
    // Lettered series, padded as the PN index writes them.
    struct Series {
        const char* prefix;
        size_t width;
    };
    static const Series series[] = {{"RE", 5}, {"PP", 5}, {"D", 6}, {"H", 6}, {"T", 6}};
    for (const Series& s : series) {
        const std::string prefix = s.prefix;
        if (n.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string digits = n.substr(prefix.size());
        if (!AllDigits(digits) || digits.size() > 8)
            return false;
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        if (digits.empty())
            return false;
        query = {prefix + Padded(digits, s.width), "USPAT"};
        return true;
    }
    return false;
}

std::string PpubsSearchBody(const PpubsQuery& q, long long caseId) {
    return "{\"start\":0,\"pageCount\":50,\"sort\":\"date_publ desc\",\"docFamilyFiltering\":"
           "\"familyIdFiltering\",\"searchType\":1,\"familyIdEnglishOnly\":true,"
           "\"familyIdFirstPreferred\":\"US-PGPUB\",\"familyIdSecondPreferred\":\"USPAT\","
           "\"familyIdThirdPreferred\":\"FPRS\",\"showDocPerFamilyPref\":\"showEnglish\","
           "\"queryId\":0,\"tagDocSearch\":false,\"query\":" +
           InnerQuery(q, caseId) + "}";
}

std::string PpubsCountsBody(const PpubsQuery& q, long long caseId) {
    return InnerQuery(q, caseId);
}

bool ReadPpubsSession(const std::string& tokenHeader, const std::string& body,
                      PpubsSession& session, std::string& error) {
    session = PpubsSession();
    if (!Plain(tokenHeader, 4096, "-_.=+/")) {
        error = "no usable session token";
        return false;
    }
    JsonValue v;
    if (!ParseJson(body, v, error)) {
        error = "session answer unreadable (" + error + ")";
        return false;
    }
    const JsonValue* userCase = v.Get("userCase");
    const JsonValue* id = userCase ? userCase->Get("caseId") : nullptr;
    long long caseId = 0;
    if (!id || !id->Integer(1, 999999999999999LL, caseId)) {
        error = "session answer without a case";
        return false;
    }
    session.token = tokenHeader;
    session.caseId = caseId;
    return true;
}

PpubsSearchResult ReadPpubsSearch(const std::string& body, const PpubsQuery& query, PpubsHit& hit,
                                  std::string& error) {
    hit = PpubsHit();
    JsonValue v;
    if (!ParseJsonAs(body, JsonValue::Type::Object, "search answer", "object", v, error))
        return PpubsSearchResult::Unreadable;
    const JsonValue* problem = v.Get("error");
    if (problem && problem->type != JsonValue::Type::Null) {
        const std::string* message = StringMember(*problem, "errorMessage");
        error = "search failed";
        if (message && Plain(*message, 80, " .,:;-_()'"))
            error += ": " + *message;
        return PpubsSearchResult::ServiceError;
    }
    const JsonValue* patents = v.Get("patents");
    if (!patents || patents->type != JsonValue::Type::Array) {
        error = "search answer without a list of documents";
        return PpubsSearchResult::Unreadable;
    }
    for (const JsonValue& p : patents->items) {
        const std::string* number = StringMember(p, "publicationReferenceDocumentNumber");
        if (!number || *number != query.number)
            continue; // another member of the family
        const std::string* guid = StringMember(p, "guid");
        const std::string* type = StringMember(p, "type");
        const std::string* location = StringMember(p, "imageLocation");
        const JsonValue* pages = p.Get("pageCount");
        long long count = 0;
        if (!guid || !Plain(*guid, 40, "-") || !type ||
            !(*type == "USPAT" || *type == "US-PGPUB" || *type == "USOCR") || !location ||
            !Plain(*location, 100, "/-_") || location->find("//") != std::string::npos ||
            location->front() == '/' || location->back() == '/' || !pages ||
            !pages->Integer(1, kMaxPpubsPages, count)) {
            error = "search answer names the document unusably";
            return PpubsSearchResult::Unreadable;
        }
        hit.guid = *guid;
        hit.type = *type;
        hit.number = *number;
        hit.imageLocation = *location;
        hit.pageCount = int(count);
        static const char* const parts[][2] = {
            {"bibStart", "BIBLIOGRAPHY"},
            {"abstractStart", "ABSTRACT"},
            {"drawingsStart", "DRAWINGS"},
            {"descriptionStart", "DESCRIPTION"},
            {"claimsStart", "CLAIMS"},
            {"searchReportStart", "SEARCH_REPORT"},
            {"certCorrectionStart", "CERTIFICATE_OF_CORRECTION"},
            {"certReexaminationStart", "REEXAMINATION_CERTIFICATE"},
            {"ptabStart", "PTAB_CERTIFICATE"},
            {"supplementalStart", "SUPPLEMENTAL_EXAMINATION_CERTIFICATE"}};
        for (const auto& part : parts) {
            const JsonValue* start = p.Get(part[0]);
            long long page = 0;
            if (start && start->Integer(1, count, page))
                hit.sections.emplace_back(part[1], int(page));
        }
        const JsonValue* kinds = p.Get("kindCode");
        if (kinds && kinds->type == JsonValue::Type::Array && !kinds->items.empty() &&
            kinds->items[0].IsString() && Plain(kinds->items[0].text, 4, ""))
            hit.kind = kinds->items[0].text;
        return PpubsSearchResult::Found;
    }
    error.clear();
    return PpubsSearchResult::NotFound;
}

std::string PpubsPrintBody(const PpubsHit& hit, long long caseId) {
    std::string keys;
    for (int p = 1; p <= hit.pageCount; ++p) {
        char name[24];
        std::snprintf(name, sizeof name, "/%08d.tif\"", p);
        keys += (p > 1 ? ",\"" : "\"") + hit.imageLocation + name;
    }
    return "{\"caseId\":" + std::to_string(caseId) + ",\"pageKeys\":[" + keys +
           "],\"patentGuid\":\"" + hit.guid + "\",\"saveOrPrint\":\"save\",\"source\":\"" +
           hit.type + "\"}";
}

bool ReadPpubsPrintJob(const std::string& body, std::string& jobId) {
    jobId.clear();
    JsonValue v;
    std::string error;
    // The job number comes bare or quoted.
    if (!ParseJson(body, v, error) || !(v.type == JsonValue::Type::Number || v.IsString()) ||
        !AllDigits(v.text) || v.text.size() > 18)
        return false;
    jobId = v.text;
    return true;
}

std::string PpubsPrintProcessBody(const std::string& jobId) {
    return "[\"" + jobId + "\"]";
}

PpubsPrintState ReadPpubsPrintProcess(const std::string& body, const std::string& jobId,
                                      std::string& pdfName, std::string& error) {
    pdfName.clear();
    JsonValue v;
    if (!ParseJsonAs(body, JsonValue::Type::Array, "print progress", "list", v, error))
        return PpubsPrintState::Unreadable;
    for (const JsonValue& job : v.items) {
        const JsonValue* id = job.Get("printProcessId");
        if (!id || !((id->type == JsonValue::Type::Number || id->IsString()) && id->text == jobId))
            continue;
        const std::string* status = StringMember(job, "printStatus");
        if (!status) {
            error = "print progress without a status";
            return PpubsPrintState::Unreadable;
        }
        if (*status == "FAILED") {
            error = "print job failed";
            return PpubsPrintState::Failed;
        }
        if (*status != "COMPLETED")
            return PpubsPrintState::Waiting;
        const std::string* name = StringMember(job, "pdfName");
        if (!name || !Plain(*name, 160, "-_.") || name->front() == '.' || name->size() < 5 ||
            name->compare(name->size() - 4, 4, ".pdf") != 0) {
            error = "print progress names no usable PDF";
            return PpubsPrintState::Unreadable;
        }
        pdfName = *name;
        return PpubsPrintState::Completed;
    }
    // The job is not listed (yet): asked again.
    return PpubsPrintState::Waiting;
}

long ParsePpubsRetryAfter(const std::string& header) {
    size_t i = header.find_first_not_of(' ');
    if (i == std::string::npos || !std::isdigit(static_cast<unsigned char>(header[i])))
        return 1;
    long s = 0;
    for (; i < header.size() && std::isdigit(static_cast<unsigned char>(header[i])); ++i)
        s = std::min<long>(s * 10 + (header[i] - '0'), kLongestPpubsRetryAfter);
    return s;
}

long ParsePpubsRemaining(const std::string& header) {
    size_t i = header.find_first_not_of(' ');
    if (i == std::string::npos || !std::isdigit(static_cast<unsigned char>(header[i])))
        return -1;
    long n = 0;
    for (; i < header.size() && std::isdigit(static_cast<unsigned char>(header[i])); ++i)
        n = std::min<long>(n * 10 + (header[i] - '0'), 1000000);
    return n;
}
