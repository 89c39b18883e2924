// Any bytes as the answer to a USPTO Patent Public Search search, read as the client reads
// it: what it finds goes into the print request's page keys and the save path, so it must
// keep their shape, and only the document asked for is ever taken.
#include "fuzzCheck.h"

#include "ppubsProtocol.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    static const PpubsQuery queries[] = {{"6103599", "USPAT"},
                                         {"D645062", "USPAT"},
                                         {"RE43633", "USPAT"},
                                         {"20160009839", "US-PGPUB"}};
    for (const PpubsQuery& q : queries) {
        PpubsHit hit;
        std::string error;
        const PpubsSearchResult r = ReadPpubsSearch(bytes, q, hit, error);
        QV_FUZZ_CHECK(r == PpubsSearchResult::Found || hit.guid.empty(), "a hit only when found");
        QV_FUZZ_CHECK(error.size() < 200 && !qvfuzz::HasLineBreak(error),
                      "a short one-line reason");
        if (r != PpubsSearchResult::Found)
            continue;
        QV_FUZZ_CHECK(hit.number == q.number, "only the number asked for");
        QV_FUZZ_CHECK(hit.pageCount >= 1 && hit.pageCount <= kMaxPpubsPages, "a believable count");
        QV_FUZZ_CHECK(hit.type == "USPAT" || hit.type == "US-PGPUB" || hit.type == "USOCR",
                      "a known source");
        const std::string& l = hit.imageLocation;
        QV_FUZZ_CHECK(!l.empty() && l.front() != '/' && l.back() != '/' &&
                          l.find("..") == std::string::npos,
                      "a relative location");
        for (char c : l + hit.guid + hit.kind)
            QV_FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '-' ||
                              c == '_',
                          "keys and names hold only path characters");
        for (const auto& s : hit.sections)
            QV_FUZZ_CHECK(s.second >= 1 && s.second <= hit.pageCount, "sections within the pages");
        // The request body built from it stays within the page count's size.
        const std::string body = PpubsPrintBody(hit, 1);
        QV_FUZZ_CHECK(body.size() <= 200 + size_t(hit.pageCount) * (l.size() + 16),
                      "a print request of the pages only");
    }
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
