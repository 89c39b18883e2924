// Any bytes as the answer to an EPO images inquiry, read as the job reads it: what it finds
// goes into request paths and the PDF's outline, so it must keep their shape.
#include "fuzzCheck.h"

#include "opsInquiry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<OpsInstance> found;
    const bool understood = ParseOpsInquiry(bytes, found);
    QV_FUZZ_CHECK(understood || found.empty(), "no instance from an answer not understood");
    // Every instance costs tags of the input.
    QV_FUZZ_CHECK(found.size() <= size / 20 + 1, "instances grow with the input");

    for (const OpsInstance& inst : found) {
        QV_FUZZ_CHECK(inst.pages >= 1 && inst.pages <= kMaxOpsPages, "a believable page count");
        QV_FUZZ_CHECK(!inst.link.empty() && inst.link[0] != '/' &&
                          inst.link.find("..") == wxString::npos,
                      "a relative link");
        for (wxUniChar c : inst.link)
            QV_FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' ||
                              c == '.',
                          "a link holds only path characters");
        QV_FUZZ_CHECK(inst.kind.length() <= 2 && !qvfuzz::HasLineBreak(inst.desc),
                      "short fields from one line");
        long previous = 0;
        for (const OpsBookmark& b : OpsOutline(inst)) {
            QV_FUZZ_CHECK(b.page >= 1 && b.page <= inst.pages, "bookmarks within the document");
            QV_FUZZ_CHECK(b.page >= previous, "bookmarks in page order");
            QV_FUZZ_CHECK(!b.title.empty(), "every bookmark has a title");
            previous = b.page;
        }
    }

    for (const char* typed : {"", "B1", "A3", "X6"}) {
        const int chosen = ChooseOpsInstance(found, typed);
        QV_FUZZ_CHECK(chosen >= -1 && chosen < static_cast<int>(found.size()), "a valid choice");
        if (chosen < 0)
            continue;
        const OpsInstance& inst = found[chosen];
        QV_FUZZ_CHECK(inst.desc == "FullDocument", "only a full document is fetched");
        bool onlyAmendment = !inst.sections.empty();
        for (const OpsSection& s : inst.sections)
            onlyAmendment = onlyAmendment && s.name.CmpNoCase("AMENDMENT") == 0;
        QV_FUZZ_CHECK(!onlyAmendment, "never a certificate of correction");
        if (*typed)
            QV_FUZZ_CHECK(inst.kind.CmpNoCase(typed) == 0, "the typed kind is honoured");
    }
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
