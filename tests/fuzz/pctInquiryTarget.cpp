// Any bytes as the answer to an Espacenet DocumentInquiry, read as the job reads it; what
// it finds goes into the retrieval request, which must keep its shape.
#include "fuzzCheck.h"

#include "jobHosts.h"
#include "pct.h"

#include <wx/mstream.h>

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wxMemoryInputStream in(data, size);
    wxString system = "unset", docId = "unset";
    unsigned long pages = 7;
    const bool found = ParsePctInquiryAnswer(in, system, docId, pages);

    wxString system2, docId2;
    unsigned long pages2 = 0;
    const bool found2 =
        ParsePctInquiryAnswerText(qvfuzz::Bytes(data, size), system2, docId2, pages2);
    QV_FUZZ_CHECK(found == found2, "the text form decides the same");
    if (!found)
        return 0;
    QV_FUZZ_CHECK(system == system2 && docId == docId2 && pages == pages2,
                  "the text form finds the same instance");
    QV_FUZZ_CHECK(!system.empty() && !docId.empty(), "an instance has a system and an id");
    QV_FUZZ_CHECK(pages >= 1 && pages <= static_cast<unsigned long>(jobhosts::kMaxPages),
                  "a believable page count");
    QV_FUZZ_CHECK(!qvfuzz::HasLineBreak(system) && !qvfuzz::HasLineBreak(docId),
                  "values from one line");

    for (unsigned long page : {1ul, pages}) {
        const wxString envelope = PctRetrievalEnvelope(docId, system, page);
        std::string inner;
        QV_FUZZ_CHECK(qvfuzz::InnerRequest(envelope, inner), "seven lines, one input_request");
        QV_FUZZ_CHECK(qvfuzz::EscapedText(inner), "the inner request is escaped text");
        // One level down it is exactly one DOCUMENT element inside its two parents, with
        // five attributes: nothing from the answer adds markup or a quote.
        const std::string request = qvfuzz::UnescapeOnce(inner);
        QV_FUZZ_CHECK(std::count(request.begin(), request.end(), '<') == 5 &&
                          std::count(request.begin(), request.end(), '>') == 5 &&
                          std::count(request.begin(), request.end(), '"') == 10,
                      "the inner request keeps its elements and attributes");
        const std::string tail = "\" FORMAT=\"SINGLE_PAGE_TIFF\" PAGE_NUMBER=\"" +
                                 std::to_string(page) +
                                 "\"/></WORLDPATENTDATA></OpenPatentServices>";
        QV_FUZZ_CHECK(request.compare(0, 78,
                                      "<OpenPatentServices ACTION=\"DocumentRetrieval\">"
                                      "<WORLDPATENTDATA><DOCUMENT ID=\"") == 0 &&
                          request.size() > tail.size() &&
                          request.compare(request.size() - tail.size(), tail.size(), tail) == 0,
                      "the retrieval asks for the page");
    }
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
