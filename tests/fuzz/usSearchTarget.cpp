// Any bytes as the answer of the published-application search, read as the serial-number
// lookup reads it, and the result turned into the page-list request as the job does.
#include "fuzzCheck.h"

#include "jobText.h"
#include "usNumber.h"
#include "uspto.h"

#include <wx/mstream.h>

namespace {

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int Hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wxMemoryInputStream in(data, size);
    const wxString publication = ParseUsSearchAnswer(in, [] { return false; });
    QV_FUZZ_CHECK(publication == ParseUsSearchAnswerText(qvfuzz::Bytes(data, size)),
                  "the text form finds the same publication");
    QV_FUZZ_CHECK(!qvfuzz::HasLineBreak(publication), "the anchor text is one line's");
    if (publication.empty())
        return 0;
    QV_FUZZ_CHECK(qvfuzz::Bytes(data, size).find("/netacgi/nph-Parser?Sect1=PTO2") !=
                      wxString::npos,
                  "a publication only from a result link");

    // Whatever the answer held, it can only be one query value of the page-list request.
    const wxString docid = jobtext::PercentEncode(publication);
    const std::string encoded = docid.ToStdString();
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(encoded[i]);
        if (Unreserved(c)) {
            decoded += static_cast<char>(c);
            continue;
        }
        QV_FUZZ_CHECK(c == '%' && i + 2 < encoded.size() && Hex(encoded[i + 1]) >= 0 &&
                          Hex(encoded[i + 2]) >= 0,
                      "only unreserved characters and %XX escapes");
        decoded += static_cast<char>(Hex(encoded[i + 1]) * 16 + Hex(encoded[i + 2]));
        i += 2;
    }
    QV_FUZZ_CHECK(decoded ==
                      std::string(publication.utf8_str().data(), publication.utf8_str().length()),
                  "the escapes give back the publication's bytes");

    const UsLocation location = UsPageListLocation(docid);
    const bool application = IsPublicationDocid(docid);
    QV_FUZZ_CHECK(location.path ==
                      (application ? "/.aiw?Docid=" : "/.piw?Docid=") + docid + "&idkey=NONE",
                  "the page-list path carries the docid as one value");
    if (application)
        QV_FUZZ_CHECK(location.host == "aiw1.uspto.gov" || location.host == "aiw2.uspto.gov",
                      "a publication goes to an application-image host");
    else
        QV_FUZZ_CHECK(location.host == "patimg1.uspto.gov" || location.host == "patimg2.uspto.gov",
                      "anything else goes to a patent-image host");
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
