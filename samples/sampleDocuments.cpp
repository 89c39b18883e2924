#include "sampleDocuments.h"

#include "fakeService.h"
#include "fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace qvsample {

namespace {

// Letter pages at 300 dpi, the size and resolution of the image servers' pages.
const int kWidth = 2550;
const int kHeight = 3300;
const int kDpi = 300;

std::string PsString(const std::string& text) {
    std::string out = "(";
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

// Breaks text into lines of at most width characters at blanks.
std::vector<std::string> Wrap(const std::string& text, size_t width) {
    std::vector<std::string> lines;
    std::istringstream words(text);
    std::string word, line;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

class PageWriter {
public:
    explicit PageWriter(std::ostringstream& ps) : m_ps(ps) {}

    void Text(const char* font, double size, double x, double y, const std::string& text) {
        m_ps << "/" << font << " findfont " << size << " scalefont setfont " << x << " " << y
             << " moveto " << PsString(text) << " show\n";
    }
    // Writes wrapped paragraphs from y downwards; returns the y below the last line.
    double Paragraph(double y, const std::string& text) {
        for (const std::string& line : Wrap(text, 86)) {
            if (y < 100)
                break;
            Text("Times-Roman", 11.5, 72, y, line);
            y -= 15;
        }
        return y - 9;
    }
    void Line(double x1, double y1, double x2, double y2) {
        m_ps << "newpath " << x1 << " " << y1 << " moveto " << x2 << " " << y2
             << " lineto stroke\n";
    }
    void Box(double x, double y, double w, double h) {
        m_ps << "newpath " << x << " " << y << " moveto " << w << " 0 rlineto 0 " << h
             << " rlineto " << -w << " 0 rlineto closepath stroke\n";
    }
    void Circle(double x, double y, double r) {
        m_ps << "newpath " << x << " " << y << " " << r << " 0 360 arc stroke\n";
    }

private:
    std::ostringstream& m_ps;
};

void Figure(PageWriter& w, int figure) {
    w.Text("Helvetica-Bold", 18, 270, 600, "FIG. " + std::to_string(figure));
    w.Box(150, 260, 312, 300);
    w.Circle(306, 410, 90);
    w.Circle(306, 410, 30);
    for (int i = 0; i < 4; ++i) {
        const double y = 300 + i * 70;
        w.Line(462, y, 520, y + 20);
        w.Text("Helvetica", 12, 524, y + 18, std::to_string(10 + 2 * i));
    }
    w.Line(150, 260, 110, 220);
    w.Text("Helvetica", 12, 92, 206, "20");
    w.Line(90, 180, 522, 180);
}

void Page(std::ostringstream& ps, const SampleNumber& s, int page) {
    PageWriter w(ps);
    ps << "0.8 setlinewidth\n";
    w.Text("Helvetica", 9, 72, 752,
           "QUORVANE SAMPLE DOCUMENT  -  made for trying the program, not a real patent document");
    w.Line(72, 744, 540, 744);
    w.Text("Helvetica-Bold", 20, 72, 702, "Sample " + s.what + " " + s.typed);
    w.Text("Helvetica", 15, 72, 676,
           "Page " + std::to_string(page) + " of " + std::to_string(s.pages));
    w.Text("Times-Bold", 15, 72, 644, s.title);

    const std::string subject = Lower(s.title);
    double y = 612;
    if (page == 1) {
        w.Text("Times-Bold", 12, 72, y, "Abstract");
        y = w.Paragraph(y - 18, "A " + subject +
                                    " is described. It has a frame, a moving part held in the "
                                    "frame, and a spring that returns the moving part to its "
                                    "first position. The parts are few and easy to make, and "
                                    "the whole can be taken apart for cleaning without tools.");
        w.Text("Times-Bold", 12, 72, y, "Background");
        w.Paragraph(y - 18,
                    "Earlier designs of this kind need many parts and wear out quickly. This "
                    "sample page was drawn by the sample service at start-up and sent as a "
                    "single-page CCITT Group 4 TIFF image, exactly as the image servers sent "
                    "their pages. Quorvane put it into this PDF unchanged.");
    } else if (page == 2) {
        Figure(w, 1);
    } else if (page == s.pages) {
        w.Text("Times-Bold", 12, 72, y, "What is claimed is:");
        y = w.Paragraph(y - 18, "1. A " + subject +
                                    " comprising a frame, a moving part held in the frame, "
                                    "and a spring between the frame and the moving part.");
        y = w.Paragraph(y, "2. The " + subject +
                               " of claim 1, wherein the spring returns the moving part to "
                               "its first position when released.");
        w.Paragraph(y, "3. The " + subject +
                           " of claim 2, wherein the frame is made in one piece and can be "
                           "taken apart from the moving part without tools.");
    } else {
        w.Text("Times-Bold", 12, 72, y, "Detailed description");
        y -= 18;
        for (int i = 0; i < 4; ++i)
            y = w.Paragraph(
                y, "Paragraph " + std::to_string((page - 2) * 4 + i + 1) +
                       ". Referring to FIG. 1, the frame 20 holds the moving part 10 in the "
                       "first position, and the parts 12, 14 and 16 guide it along its path. "
                       "When the moving part is pushed, the spring is loaded; when it is "
                       "let go, the spring returns it. In other embodiments the frame is "
                       "round, or the spring is a strip of elastic material.");
    }
    w.Line(72, 56, 540, 56);
    w.Text("Helvetica", 8, 72, 44,
           "Served by quorvane-sample-service. The remote services Quorvane was made for have "
           "been retired by their operators.");
    ps << "showpage\n";
}

// A temporary folder removed with its content when this goes.
class WorkDir {
public:
    WorkDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-samples-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()))
            m_path = buffer.data();
    }
    ~WorkDir() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Ghostscript text pages, every sample's pages in one run.
bool GhostscriptPages(std::vector<std::vector<std::string>>& out) {
    WorkDir dir;
    if (dir.path().empty())
        return false;
    std::ostringstream ps;
    ps << "%!PS\n";
    for (const SampleNumber& s : SampleNumbers())
        for (int p = 1; p <= s.pages; ++p)
            Page(ps, s, p);
    const std::string psPath = dir.path() + "/samples.ps";
    {
        std::ofstream f(psPath, std::ios::binary);
        f << ps.str();
        if (!f)
            return false;
    }
    const std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=tiffg4 -r" +
                                std::to_string(kDpi) + " -g" + std::to_string(kWidth) + "x" +
                                std::to_string(kHeight) + " -dFIXEDMEDIA -sOutputFile='" +
                                dir.path() + "/page-%03d.tif' '" + psPath + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return false;
    int n = 0;
    out.clear();
    for (const SampleNumber& s : SampleNumbers()) {
        out.emplace_back();
        for (int p = 1; p <= s.pages; ++p) {
            char name[32];
            std::snprintf(name, sizeof name, "/page-%03d.tif", ++n);
            std::string tiff = qvfix::readWholeFile(dir.path() + name);
            if (tiff.empty())
                return false;
            out.back().push_back(std::move(tiff));
        }
    }
    return true;
}

// Drawings of text-like shapes with libtiff, when ghostscript is missing.
bool LibtiffPages(std::vector<std::vector<std::string>>& out) {
    out.clear();
    unsigned seed = 1;
    for (const SampleNumber& s : SampleNumbers()) {
        out.emplace_back();
        for (int p = 1; p <= s.pages; ++p) {
            qvfix::FixtureOptions o;
            o.width = kWidth / 2;
            o.height = kHeight / 2;
            o.seed = seed++;
            std::string tiff = qvfix::makeTiff(o);
            if (tiff.empty())
                return false;
            out.back().push_back(std::move(tiff));
        }
    }
    return true;
}

} // namespace

const std::vector<SampleNumber>& SampleNumbers() {
    static const std::vector<SampleNumber> samples = [] {
        std::vector<SampleNumber> v;
        auto add = [&v](const char* typed, const char* what, const char* title, const char* pdf,
                        int pages, Service service, const char* key) {
            SampleNumber s;
            s.typed = typed;
            s.what = what;
            s.title = title;
            s.pdf = pdf;
            s.pages = pages;
            s.service = service;
            s.key = key;
            v.push_back(s);
            return &v.back();
        };
        auto epo = [](SampleNumber* s, const char* id, const char* pdf) {
            s->ops = id;
            s->opsPdf = pdf;
        };
        // The EPO job names its PDFs as the USPTO job does, EP and WO with the country.
        epo(add("5,123,456", "utility patent", "Self-winding garden hose reel", "5123456.pdf", 8,
                Service::UsptoImages, "5123456"),
            "US.5123456.A", "5123456.pdf");
        v.back().ppubs = "5123456";
        epo(add("D365123", "design patent", "Ornamental design for a desk lamp", "D365123.pdf", 2,
                Service::UsptoImages, "D0365123"),
            "US.D365123.S", "D365123.pdf");
        v.back().ppubs = "D365123";
        epo(add("RE35136", "reissue patent", "Coin sorting tray", "RE35136.pdf", 3,
                Service::UsptoImages, "RE035136"),
            "US.RE35136.E", "RE35136.pdf");
        v.back().ppubs = "RE35136";
        epo(add("20020000001", "published application", "Method of folding a paper glider",
                "20020000001.pdf", 4, Service::UsptoImages, "20020000001"),
            "US.2002000001.A1", "20020000001.pdf");
        v.back().ppubs = "20020000001";
        // Serials name no publication the EPO knows: not offered there.
        SampleNumber* serial = add("09/836917", "application serial", "Solar powered bird feeder",
                                   "9-836917.pdf", 3, Service::UsptoSearch, "836917");
        serial->publication = "20010012345";
        serial->dateRange = "1%2F1%2F1998-%3E12%2F31%2F2001";
        epo(add("EP1000000", "European patent", "Bicycle bell with two tones", "EP1000000.pdf", 3,
                Service::Espacenet, "EP1000000"),
            "EP.1000000.B1", "EP1000000.pdf");
        epo(add("WO2010050748", "international application", "Folding umbrella stand",
                "WO2010050748.pdf", 5, Service::EpoOnly, ""),
            "WO.2010050748.A2", "WO2010050748.pdf");
        return v;
    }();
    return samples;
}

std::vector<std::vector<std::string>> RenderSamplePages(bool* readable, std::string* error) {
    std::vector<std::vector<std::string>> pages;
    bool text = GhostscriptPages(pages);
    if (!text && !LibtiffPages(pages)) {
        if (error)
            *error = "cannot make page images: neither ghostscript nor libtiff produced them";
        return {};
    }
    if (readable)
        *readable = text;
    return pages;
}

namespace {
bool AddEpoSamples(qvfake::OpsFake& ops, const std::vector<std::vector<std::string>>& pages,
                   std::string* error);
}

bool AddSamples(qvfake::FakeService& fake, std::string* error, bool* readable) {
    const std::vector<std::vector<std::string>> pages = RenderSamplePages(readable, error);
    const std::vector<SampleNumber>& samples = SampleNumbers();
    if (pages.size() != samples.size())
        return false;
    if (fake.ops() && !AddEpoSamples(*fake.ops(), pages, error))
        return false;
    if (qvfake::PpubsFake* ppubs = fake.ppubs()) {
        // The service's PDFs hold single-strip Group 4 pages, as the EPO's do.
        for (size_t i = 0; i < samples.size(); ++i) {
            if (samples[i].ppubs.empty())
                continue;
            std::vector<std::string> served;
            for (const std::string& tiff : pages[i])
                served.push_back(qvfake::opsPageFromTiff(tiff, error));
            const qvfake::PpubsDocument doc = qvfake::ppubsDocument(samples[i].ppubs, served);
            if (doc.pdf.empty())
                return false;
            ppubs->addDocument(doc);
        }
        ppubs->addDocument(qvfake::ppubsRecordedDocument("6103599"));
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const SampleNumber& s = samples[i];
        switch (s.service) {
        case Service::UsptoImages:
            fake.addUsptoDocument(s.key, pages[i]);
            break;
        case Service::UsptoSearch:
            fake.addPublication(s.key, s.publication, s.dateRange);
            fake.addUsptoDocument(s.publication, pages[i]);
            break;
        case Service::Espacenet: {
            qvfake::EspacenetDocument doc;
            doc.pages = pages[i];
            doc.id = s.key.substr(0, 2) + "." + s.key.substr(2) + ".A1"; // "EP.1000000.A1"
            fake.addEspacenetDocument(s.key, doc);
            break;
        }
        case Service::EpoOnly:
            break;
        }
    }
    return true;
}

std::vector<std::pair<std::string, int>> EpoSections(const SampleNumber& s) {
    // The pages' layout: abstract on page 1, a figure on page 2, the claims last and the
    // description between (on page 1 too when there is no page between).
    std::vector<std::pair<std::string, int>> sections = {{"ABSTRACT", 1}, {"BIBLIOGRAPHY", 1}};
    if (s.pages > 2) {
        sections.push_back({"CLAIMS", s.pages});
        sections.push_back({"DESCRIPTION", s.pages > 3 ? 3 : 1});
    }
    if (s.pages > 1)
        sections.push_back({"DRAWINGS", 2});
    return sections;
}

namespace {
bool AddEpoSamples(qvfake::OpsFake& ops, const std::vector<std::vector<std::string>>& pages,
                   std::string* error) {
    const std::vector<SampleNumber>& samples = SampleNumbers();
    if (pages.size() != samples.size()) {
        if (error)
            *error = "no page images";
        return false;
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const SampleNumber& s = samples[i];
        if (s.ops.empty())
            continue;
        std::vector<std::string> served;
        for (const std::string& tiff : pages[i]) {
            served.push_back(qvfake::opsPageFromTiff(tiff, error));
            if (served.back().empty())
                return false;
        }
        const size_t dot1 = s.ops.find('.'), dot2 = s.ops.rfind('.');
        qvfake::OpsPublication pub =
            qvfake::opsPublication(s.ops.substr(0, dot1), s.ops.substr(dot1 + 1, dot2 - dot1 - 1),
                                   s.ops.substr(dot2 + 1), std::move(served));
        pub.instances[0].sections.clear();
        for (const auto& section : EpoSections(s))
            pub.instances[0].sections.push_back({section.first, section.second});
        ops.addPublication(pub);
    }
    return true;
}
} // namespace

std::string NumbersToTry() {
    std::ostringstream out;
    for (const SampleNumber& s : SampleNumbers()) {
        if (s.service == Service::EpoOnly)
            continue;
        std::string number = s.typed + " ";
        if (number.size() < 14)
            number.resize(14, ' ');
        out << "  " << number << s.what << ", " << s.pages << " pages -> " << s.pdf << "\n";
    }
    return out.str();
}

std::string PpubsNumbersToTry() {
    std::ostringstream out;
    out << "  6,103,599     utility patent as the USPTO served it, 12 pages => 6103599.pdf\n";
    for (const SampleNumber& s : SampleNumbers()) {
        if (s.ppubs.empty())
            continue;
        std::string number = s.typed + " ";
        if (number.size() < 14)
            number.resize(14, ' ');
        out << "  " << number << s.what << ", " << s.pages << " pages => " << s.pdf << "\n";
    }
    return out.str();
}

std::string EpoNumbersToTry() {
    std::ostringstream out;
    for (const SampleNumber& s : SampleNumbers()) {
        if (s.ops.empty())
            continue;
        std::string number = s.typed + " ";
        if (number.size() < 14)
            number.resize(14, ' ');
        out << "  " << number << s.what << ", " << s.pages << " pages, bookmarks => " << s.opsPdf
            << "\n";
    }
    return out.str();
}

} // namespace qvsample
