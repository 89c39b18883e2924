// Any bytes as the multipart answer to an Espacenet DocumentRetrieval: positioned at the
// image as the job does it, and the rest handed to the page reader.
#include "fuzzCheck.h"

#include "pct.h"
#include "tiffReader.h"

#include <wx/mstream.h>

#include <cstring>

namespace {

// Whether a line of data[0, end) starts with the image part's last header.
bool LocationLineBefore(const uint8_t* data, size_t end) {
    static const char mark[] = "Content-Location:";
    const size_t len = sizeof mark - 1;
    for (size_t at = 0; at + len <= end; ++at) {
        if ((at == 0 || data[at - 1] == '\n' || data[at - 1] == '\r') &&
            std::memcmp(data + at, mark, len) == 0)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wxMemoryInputStream in(data, size);
    const bool positioned = PositionAtPageImage(in);
    const wxFileOffset at = in.TellI();
    QV_FUZZ_CHECK(at >= 0 && static_cast<size_t>(at) <= size, "inside the answer");
    if (!positioned) {
        QV_FUZZ_CHECK(static_cast<size_t>(at) == size, "a bad answer is read to its end");
        return 0;
    }
    QV_FUZZ_CHECK(static_cast<size_t>(at) < size, "something is left for the image");
    QV_FUZZ_CHECK(LocationLineBefore(data, static_cast<size_t>(at)),
                  "the image follows the Content-Location line");

    // The page reader takes the rest, as the writer does for the job.
    tiffReader reader(in);
    QV_FUZZ_CHECK(reader.m_ok == reader.m_error.empty(), "a failed reader has a text");
    if (reader.m_ok && reader.StripsInData() &&
        reader.m_stripOffsets.size() == reader.m_stripByteCounts.size()) {
        wxMemoryOutputStream out;
        reader.WriteStrips(out);
        QV_FUZZ_CHECK(static_cast<uint64_t>(out.GetLength()) == reader.StripBytes(),
                      "every strip byte copied");
    }
    return 0;
}

int QvFuzzReplayFinished() {
    return 0;
}
