// Any typed text: the main window's cleaning and classification, then the USPTO job's
// recognition or the Espacenet job's file name and inquiry. A decision, never a crash; and
// nothing typed may name a file outside the download folder or break a request.
#include "fuzzCheck.h"

#include "jobRecord.h"
#include "opsNumber.h"
#include "pct.h"
#include "usNumber.h"
#include "uspto.h"

#include <algorithm>

namespace {

bool DocidCharacters(const wxString& docid) {
    for (wxUniChar c : docid) {
        const auto v = c.GetValue();
        if (!((v >= '0' && v <= '9') || (v >= 'A' && v <= 'Z') || v == '+' || v == '-'))
            return false;
    }
    return true;
}

bool SafeFileName(const wxString& name) {
    return !name.empty() && name.find('/') == wxString::npos && name != "." && name != "..";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Typed text arrives as Unicode; bytes that are not UTF-8 are taken one byte one
    // character.
    wxString typed = wxString::FromUTF8(reinterpret_cast<const char*>(data), size);
    if (typed.empty() && size > 0)
        typed = qvfuzz::Bytes(data, size);

    // The EPO source: a number it takes goes into a request path and a file name as it is.
    const OpsNumber ops = MapOpsNumber(typed);
    if (ops.ok) {
        const wxString path = ops.InquiryPath();
        for (wxUniChar c : path) {
            const auto v = c.GetValue();
            QV_FUZZ_CHECK((v >= '0' && v <= '9') || (v >= 'A' && v <= 'Z') ||
                              (v >= 'a' && v <= 'z') || v == '/' || v == '.' || v == '-',
                          "the inquiry path holds only path characters");
        }
        QV_FUZZ_CHECK(path.StartsWith("published-data/publication/") && path.EndsWith("/images"),
                      "one inquiry path");
        QV_FUZZ_CHECK(SafeFileName(ops.name + ".pdf") && DocidCharacters(ops.name),
                      "the EPO file stays in the download folder");
        QV_FUZZ_CHECK(ops.country.length() == 2 && !ops.number.empty() && ops.kind.length() <= 2,
                      "country, number and kind");
    }

    const wxString number = CleanNumber(typed);
    QV_FUZZ_CHECK(number.find(',') == wxString::npos && number.find(' ') == wxString::npos,
                  "no commas or blanks after cleaning");
    int kind = -1;
    const bool valid = ClassifyNumber(number, &kind);
    QV_FUZZ_CHECK(!(number.empty() && valid), "empty text is no job");
    if (!valid)
        return 0;
    QV_FUZZ_CHECK(kind == kUsptoJob || kind == kPctJob, "one of the two kinds");

    if (kind == kPctJob) {
        wxString name = number;
        name.Replace("/", "-");
        QV_FUZZ_CHECK(SafeFileName(name + ".pdf"), "the file stays in the download folder");
        std::string inner;
        QV_FUZZ_CHECK(qvfuzz::InnerRequest(PctInquiryEnvelope(number), inner),
                      "seven lines, one input_request");
        QV_FUZZ_CHECK(qvfuzz::EscapedText(inner), "the inquiry is escaped text");
        const std::string request = qvfuzz::UnescapeOnce(inner);
        QV_FUZZ_CHECK(std::count(request.begin(), request.end(), '<') == 5 &&
                          std::count(request.begin(), request.end(), '"') == 8,
                      "the number is one SEED value");
        return 0;
    }

    const UsNumber us = RecogniseUsNumber(number);
    if (us.serial) {
        QV_FUZZ_CHECK(us.docid.empty(), "a serial number's docid comes from the lookup");
        const wxString series = us.lookupText.BeforeFirst('/');
        const wxString serial = us.lookupText.AfterFirst('/');
        QV_FUZZ_CHECK(!series.empty() && !serial.empty() && series.IsNumber() &&
                          serial.IsNumber() && series[0] != '+' && series[0] != '-' &&
                          serial[0] != '+' && serial[0] != '-',
                      "the lookup text is series/serial in digits");
        QV_FUZZ_CHECK(us.number == series + "-" + serial, "the file is series-serial");
        const wxString path = UsSearchPath(us.lookupText);
        QV_FUZZ_CHECK(path.find(' ') == wxString::npos && !qvfuzz::HasLineBreak(path),
                      "the search path is one request target");
    }
    if (us.docid.empty())
        return 0;
    QV_FUZZ_CHECK(DocidCharacters(us.docid), "a docid of digits, capitals and a sign");
    QV_FUZZ_CHECK(SafeFileName(us.number + ".pdf"), "the file stays in the download folder");
    const UsLocation location = UsPageListLocation(us.docid);
    QV_FUZZ_CHECK(location.path.EndsWith("&idkey=NONE") &&
                      location.path.find(' ') == wxString::npos,
                  "one page-list request target");
    QV_FUZZ_CHECK(location.host.EndsWith(".uspto.gov"), "an image host");
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
