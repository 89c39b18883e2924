// The sample documents of the first-run service: one of each kind of number a user types,
// with page images made at start-up (ghostscript text pages that say which sample and page
// they are, or libtiff drawings when ghostscript cannot run), served through the fake
// remote services.
//
//   qvfake::FakeService fake;
//   std::string error;
//   if (!qvsample::AddSamples(fake, &error)) ...
//   // http_proxy=<fake.proxyUrl()> quorvane, then type qvsample::SampleNumbers()[i].typed
//
// Link the `qv_samples` library.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qvfake {
class FakeService;
}

namespace qvsample {

// Which remote service answers for a sample.
enum class Service {
    UsptoImages, // page list and pages on the USPTO image hosts, by docid
    UsptoSearch, // the serial is looked up on the search host, then the publication's pages
    Espacenet,   // the OpenPatentServices web service
    EpoOnly,     // only the EPO service (OPS) answers: offered only with the sample key
};

struct SampleNumber {
    std::string typed; // as the user types it ("5,123,456")
    std::string what;  // "utility patent"
    std::string title; // made-up title printed on the pages
    std::string pdf;   // name of the PDF the job writes ("5123456.pdf")
    int pages = 0;
    Service service = Service::UsptoImages;
    std::string key;         // docid, search serial or Espacenet inquiry number
    std::string publication; // UsptoSearch: the publication number the search answers
    std::string dateRange;   // UsptoSearch: the encoded date range of the serial's series
    std::string ops;         // the EPO's docdb id ("EP.1000000.B1"); empty: not served there
    std::string opsPdf;      // name of the PDF the EPO job writes for `typed`
    std::string ppubs;       // the number as the USPTO's Patent Public Search indexes it;
                             // empty: not served there
};

// Every sample, in the order they are offered to the user.
const std::vector<SampleNumber>& SampleNumbers();

// The page images of every sample, samples in SampleNumbers() order and pages from 1.
// Rendered in a temporary folder that is removed afterwards. readable tells whether
// ghostscript drew text pages (false: libtiff drawings without words). Empty on failure.
std::vector<std::vector<std::string>> RenderSamplePages(bool* readable = nullptr,
                                                        std::string* error = nullptr);

// Renders the pages and registers every sample with the fake, with its EPO service when
// enableOps() was called before (the samples that have an `ops` id), and with its USPTO Patent
// Public Search when enablePpubs() was (the samples that have a `ppubs` number, and the
// recorded US 6,103,599). False, with the reason in
// *error, when no page images could be made.
bool AddSamples(qvfake::FakeService& fake, std::string* error = nullptr, bool* readable = nullptr);

// The lines a user reads: each number to type, what it is and how many pages it has.
std::string NumbersToTry();

// The same for the numbers the EPO service answers, with the sample key:
// "  NUMBER  what, N pages, bookmarks => FILE.pdf".
std::string EpoNumbersToTry();

// The same for the numbers the USPTO Patent Public Search answers, no key needed:
// "  NUMBER  what, N pages => FILE.pdf".
std::string PpubsNumbersToTry();

// Where each section of an EPO sample starts, as the service lists them; the PDF's
// bookmarks follow them.
std::vector<std::pair<std::string, int>> EpoSections(const SampleNumber& s);

} // namespace qvsample
