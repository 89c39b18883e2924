// Shared by every fuzz target: the libFuzzer entry points, a check that stops the run with a
// message (the fuzzer then keeps the input as a crash file), and the switch the replay
// program sets for the slower checks with outside tools.
#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define QV_FUZZ_CHECK(cond, what)                                                                  \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, __FILE__, __LINE__);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// True in the replay program: each input is also checked with the independent tools
// (qpdf, poppler), which are far too slow to run inside the fuzzer.
extern bool qvFuzzReplay;

// Called by the replay program after the last input. Non-zero when the inputs as a whole
// did not reach what the target must cover (for example, no page ever passed).
int QvFuzzReplayFinished();

namespace qvfuzz {

// The bytes as the jobs see an answer: one byte one character.
inline wxString Bytes(const uint8_t* data, size_t size) {
    return wxString::From8BitData(reinterpret_cast<const char*>(data), size);
}

inline bool HasLineBreak(const wxString& text) {
    return text.find('\n') != wxString::npos || text.find('\r') != wxString::npos;
}

// Whether the text, as the program writes it into a SOAP request, keeps the request's shape:
// no raw markup, and every "&" starts one of the references the escaping produces.
bool EscapedText(const wxString& text);

// One level of XML unescaping (the five entities and numeric references), written
// independently of the program's own.
std::string UnescapeOnce(const std::string& text);

// The text between the input_request tags of an envelope, or false when the envelope does
// not have the seven lines the service expects.
bool InnerRequest(const wxString& envelope, std::string& inner);

} // namespace qvfuzz
