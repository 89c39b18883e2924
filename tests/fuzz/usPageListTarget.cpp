// Any bytes as the answer to a USPTO page-list request, read as the job reads it.
#include "fuzzCheck.h"

#include "jobHosts.h"
#include "uspto.h"

#include <wx/mstream.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wxMemoryInputStream in(data, size);
    UsPageList list;
    QV_FUZZ_CHECK(ParseUsPageList(in, list, [] { return false; }),
                  "an answer read to its end is understood");
    QV_FUZZ_CHECK(in.TellI() == static_cast<wxFileOffset>(size), "the answer is read to its end");

    UsPageList fromText;
    ParseUsPageListText(qvfuzz::Bytes(data, size), fromText);
    QV_FUZZ_CHECK(fromText.numPages == list.numPages && fromText.listState == list.listState &&
                      fromText.embedPath == list.embedPath && fromText.pages == list.pages,
                  "the text form reads the same list");

    QV_FUZZ_CHECK(list.listState == PageListState::CountFound ||
                      list.listState == PageListState::NoCount,
                  "an answer was read: count found or not");
    QV_FUZZ_CHECK(list.listState == PageListState::CountFound || list.numPages == 0,
                  "no count without the comment");
    QV_FUZZ_CHECK(!qvfuzz::HasLineBreak(list.embedPath), "lines are joined without line ends");
    if (list.pages.empty())
        return 0;

    // Pages only for a believable count and an embed path with "PageNum=", and then the
    // one character behind the mark gives way to the page number.
    QV_FUZZ_CHECK(list.numPages >= 1 && list.numPages <= jobhosts::kMaxPages,
                  "a believable page count");
    QV_FUZZ_CHECK(list.pages.size() == static_cast<size_t>(list.numPages), "one path per page");
    const size_t mark = list.embedPath.find("PageNum=");
    QV_FUZZ_CHECK(mark != wxString::npos, "pages come from an embed path with PageNum=");
    // A NUL ends each part as text, as it ends the request target anyway.
    const wxString prefix = list.embedPath.substr(0, mark + 8).BeforeFirst('\0');
    const wxString suffix = mark + 9 <= list.embedPath.length()
                                ? list.embedPath.substr(mark + 9).BeforeFirst('\0')
                                : wxString();
    for (size_t i = 0; i < list.pages.size(); ++i) {
        const wxString want = prefix + wxString::Format("%zu", i + 1) + suffix;
        QV_FUZZ_CHECK(list.pages[i] == want, "page path with its page number");
    }
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
