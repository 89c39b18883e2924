#include "opsInquiry.h"

#include <algorithm>

namespace {

// One start or empty tag of the answer: its local name (prefix dropped) and attributes.
struct Tag {
    std::string name;
    bool closing = false;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string Attribute(const char* key) const {
        for (const auto& a : attributes)
            if (a.first == key)
                return a.second;
        return std::string();
    }
};

std::string LocalName(const std::string& qualified) {
    const size_t colon = qualified.rfind(':');
    return colon == std::string::npos ? qualified : qualified.substr(colon + 1);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Undoes the predefined entities; any other reference leaves the value unusable.
bool Unescape(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '&') {
            out += in[i];
            continue;
        }
        static const std::pair<const char*, char> entities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool known = false;
        for (const auto& e : entities) {
            const size_t len = std::char_traits<char>::length(e.first);
            if (in.compare(i, len, e.first) == 0) {
                out += e.second;
                i += len - 1;
                known = true;
                break;
            }
        }
        if (!known)
            return false;
    }
    return true;
}

// Reads the tag whose "<" is at pos; pos ends behind its ">". False at a comment,
// declaration or processing instruction (skipped) or an unterminated tag (pos at the end).
bool ReadTag(const std::string& s, size_t& pos, Tag& tag) {
    const size_t end = s.find('>', pos);
    if (end == std::string::npos) {
        pos = s.size();
        return false;
    }
    if (s.compare(pos, 4, "<!--") == 0) {
        const size_t close = s.find("-->", pos + 4);
        pos = close == std::string::npos ? s.size() : close + 3;
        return false;
    }
    size_t i = pos + 1;
    pos = end + 1;
    if (i < end && (s[i] == '?' || s[i] == '!'))
        return false;
    tag = Tag();
    if (i < end && s[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const size_t nameStart = i;
    while (i < end && !IsSpace(s[i]) && s[i] != '/')
        ++i;
    tag.name = LocalName(s.substr(nameStart, i - nameStart));
    // Attributes: name="value" or name='value'; a ">" inside a value is not expected here
    // and only cuts the value short.
    while (i < end) {
        while (i < end && (IsSpace(s[i]) || s[i] == '/'))
            ++i;
        const size_t keyStart = i;
        while (i < end && s[i] != '=' && !IsSpace(s[i]))
            ++i;
        const std::string key = s.substr(keyStart, i - keyStart);
        while (i < end && IsSpace(s[i]))
            ++i;
        if (i >= end || s[i] != '=')
            break;
        ++i;
        while (i < end && IsSpace(s[i]))
            ++i;
        if (i >= end || (s[i] != '"' && s[i] != '\''))
            break;
        const char quote = s[i++];
        const size_t valueStart = i;
        while (i < end && s[i] != quote)
            ++i;
        std::string value;
        if (Unescape(s.substr(valueStart, i - valueStart), value))
            tag.attributes.emplace_back(LocalName(key), value);
        ++i;
    }
    return true;
}

// Text up to the next "<", trimmed.
std::string TextAt(const std::string& s, size_t pos) {
    const size_t end = std::min(s.find('<', pos), s.size());
    size_t a = pos, b = end;
    while (a < b && IsSpace(s[a]))
        ++a;
    while (b > a && IsSpace(s[b - 1]))
        --b;
    return s.substr(a, std::min<size_t>(b - a, 64));
}

// A link goes into a request path as it is: only the characters of a path are accepted.
bool UsableLink(const std::string& link) {
    if (link.empty() || link.size() > 512 || link[0] == '/' || link.find("..") != std::string::npos)
        return false;
    for (char c : link) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool PlainWord(const std::string& s, size_t max) {
    if (s.empty() || s.size() > max)
        return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

// "published-data/images/EP/1000000/B1/fullimage": country, number and kind.
void FromLink(const std::string& link, OpsInstance& inst) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= link.size() && parts.size() < 8) {
        const size_t slash = std::min(link.find('/', start), link.size());
        parts.push_back(link.substr(start, slash - start));
        start = slash + 1;
    }
    if (parts.size() == 6 && parts[1] == "images" && PlainWord(parts[2], 4) &&
        PlainWord(parts[3], 20) && PlainWord(parts[4], 2)) {
        inst.country = parts[2];
        inst.number = parts[3];
        inst.kind = parts[4];
    }
}

long PageCount(const std::string& text) {
    if (text.empty() || text.size() > 6)
        return 0;
    long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

bool ParseOpsInquiry(const std::string& bytes, std::vector<OpsInstance>& out) {
    out.clear();
    if (bytes.size() > kMaxOpsInquiryBytes)
        return false;
    bool sawRoot = false;
    // The publication of the current inquiry result, from its document-id.
    std::string resultCountry, resultNumber, resultKind;
    bool inResult = false;
    OpsInstance* current = nullptr;
    size_t pos = 0;
    Tag tag;
    while ((pos = bytes.find('<', pos)) != std::string::npos) {
        if (!ReadTag(bytes, pos, tag))
            continue;
        if (tag.name == "world-patent-data" && !tag.closing) {
            sawRoot = true;
        } else if (tag.name == "inquiry-result") {
            inResult = !tag.closing;
            current = nullptr;
            resultCountry.clear();
            resultNumber.clear();
            resultKind.clear();
        } else if (inResult && !current && !tag.closing &&
                   (tag.name == "country" || tag.name == "doc-number" || tag.name == "kind")) {
            std::string& field = tag.name == "country"      ? resultCountry
                                 : tag.name == "doc-number" ? resultNumber
                                                            : resultKind;
            field = TextAt(bytes, pos);
        } else if (tag.name == "document-instance") {
            current = nullptr;
            if (tag.closing)
                continue;
            const std::string link = tag.Attribute("link");
            const long pages = PageCount(tag.Attribute("number-of-pages"));
            if (!UsableLink(link) || pages < 1 || pages > kMaxOpsPages)
                continue;
            OpsInstance inst;
            inst.link = wxString::FromUTF8(link.c_str());
            // A short one-line text: it is compared and may be shown, never a layout.
            std::string desc = tag.Attribute("desc").substr(0, 64);
            for (char& c : desc)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    c = ' ';
            inst.desc = wxString::FromUTF8(desc.c_str());
            inst.pages = pages;
            FromLink(link, inst);
            if (inst.kind.empty() && PlainWord(resultKind, 2) && PlainWord(resultCountry, 4) &&
                PlainWord(resultNumber, 20)) {
                inst.country = resultCountry;
                inst.number = resultNumber;
                inst.kind = resultKind;
            }
            out.push_back(inst);
            current = &out.back();
        } else if (tag.name == "document-section" && current && !tag.closing) {
            const long start = PageCount(tag.Attribute("start-page"));
            const std::string name = tag.Attribute("name");
            // More sections than pages are not believed either.
            if (start >= 1 && start <= current->pages && !name.empty() && name.size() <= 64 &&
                current->sections.size() < 64)
                current->sections.push_back({wxString::FromUTF8(name.c_str()), start});
        }
    }
    // Instances found outside an answer of the service (no root element) are not believed.
    if (!sawRoot)
        out.clear();
    return sawRoot;
}

namespace {

bool AmendmentOnly(const OpsInstance& inst) {
    if (inst.sections.empty())
        return false;
    for (const OpsSection& s : inst.sections)
        if (s.name.CmpNoCase("AMENDMENT") != 0)
            return false;
    return true;
}

// Lower is better when no kind was typed.
int Rank(const wxString& kind) {
    if (kind.empty())
        return 5;
    const wxUniChar letter = wxString(kind[0]).Upper()[0];
    if (letter == 'B')
        return 0;
    if (letter != 'A')
        return 1; // reissues (E), designs (S) and other grants
    if (kind.Upper() == "A1")
        return 2; // the application with its search report
    if (kind.Upper() == "A3")
        return 4;
    return 3;
}

} // namespace

int ChooseOpsInstance(const std::vector<OpsInstance>& instances, const wxString& typedKind) {
    int best = -1;
    for (size_t i = 0; i < instances.size(); ++i) {
        const OpsInstance& inst = instances[i];
        if (inst.desc != "FullDocument" || AmendmentOnly(inst))
            continue;
        if (!typedKind.empty()) {
            if (inst.kind.CmpNoCase(typedKind) == 0)
                return static_cast<int>(i);
            continue;
        }
        if (best < 0 || Rank(inst.kind) < Rank(instances[best].kind))
            best = static_cast<int>(i);
    }
    return best;
}

std::vector<OpsBookmark> OpsOutline(const OpsInstance& instance) {
    static const std::pair<const char*, const char*> known[] = {
        {"BIBLIOGRAPHY", "Bibliography"}, {"ABSTRACT", "Abstract"},
        {"DESCRIPTION", "Description"},   {"CLAIMS", "Claims"},
        {"DRAWINGS", "Drawings"},         {"SEARCH_REPORT", "Search report"},
        {"AMENDMENT", "Amendment"}};
    const size_t knownCount = sizeof known / sizeof known[0];
    struct Entry {
        OpsBookmark mark;
        size_t order;
    };
    std::vector<Entry> entries;
    for (const OpsSection& s : instance.sections) {
        if (s.startPage < 1 || s.startPage > instance.pages)
            continue;
        Entry e{{s.name, s.startPage}, knownCount};
        for (size_t k = 0; k < knownCount; ++k)
            if (s.name.CmpNoCase(known[k].first) == 0) {
                e.mark.title = known[k].second;
                e.order = k;
            }
        // A name that was no text (bytes that are not UTF-8) gives no bookmark.
        if (!e.mark.title.empty())
            entries.push_back(e);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.mark.page != b.mark.page ? a.mark.page < b.mark.page : a.order < b.order;
    });
    std::vector<OpsBookmark> out;
    for (const Entry& e : entries)
        out.push_back(e.mark);
    return out;
}
