#include "numberList.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool isSeparator(wxUniChar c) {
    return c == '\n' || c == '\r' || c == '\t' || c == ';';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

std::string trimmed(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

// Lists come from many tools: UTF-8 mostly, Latin-1 from older ones. Numbers are ASCII
// either way, so a line that is not UTF-8 is read byte for byte.
wxString lineText(const std::string& line) {
    wxString text = wxString::FromUTF8(line.data(), line.size());
    if (text.empty() && !line.empty())
        text = wxString::From8BitData(line.data(), line.size());
    return text;
}

// The first field of a CSV line: quoted (with "" for a quote) or up to the first comma.
std::string firstCsvField(const std::string& line) {
    if (line.empty() || line[0] != '"') {
        const size_t comma = line.find(',');
        return trimmed(comma == std::string::npos ? line : line.substr(0, comma));
    }
    std::string field;
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] != '"') {
            field += line[i];
        } else if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            ++i;
        } else {
            break; // closing quote; the rest of the line belongs to other fields
        }
    }
    return trimmed(field);
}

} // namespace

bool HoldsSeveralNumbers(const wxString& text) {
    for (wxUniChar c : text)
        if (isSeparator(c))
            return true;
    return false;
}

std::vector<wxString> SplitNumbers(const wxString& text) {
    std::vector<wxString> pieces;
    wxString piece;
    auto flush = [&] {
        piece.Trim(true).Trim(false);
        if (!piece.empty())
            pieces.push_back(piece);
        piece.clear();
    };
    for (wxUniChar c : text) {
        if (isSeparator(c))
            flush();
        else
            piece += c;
    }
    flush();
    return pieces;
}

ListFormat ListFormatOfName(const wxString& path) {
    return path.Lower().EndsWith(".csv") ? ListFormat::Csv : ListFormat::Lines;
}

std::vector<wxString> NumbersOfList(const std::string& bytes, ListFormat format) {
    std::vector<wxString> numbers;
    size_t pos = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = bytes.size();
        const std::string line = trimmed(bytes.substr(pos, end - pos));
        pos = end + 1;
        if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
            pos = end + 2;
        if (line.empty() || line[0] == '#')
            continue;
        const std::string number = format == ListFormat::Csv ? firstCsvField(line) : line;
        if (!number.empty())
            numbers.push_back(lineText(number));
    }
    return numbers;
}

bool ReadListFile(const wxString& path, std::vector<wxString>& numbers, wxString& error) {
    const bool fromStdin = path == "-";
    std::FILE* in = fromStdin ? stdin : std::fopen(path.fn_str(), "rb");
    if (!in) {
        error = wxString::Format("Cannot open the list %s: %s", path, std::strerror(errno));
        return false;
    }
    std::string bytes;
    char buffer[65536];
    bool tooLarge = false;
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (bytes.size() + got > kMaxListFileBytes) {
            tooLarge = true;
            break;
        }
        bytes.append(buffer, got);
    }
    const int readError = std::ferror(in) ? errno : 0;
    if (!fromStdin)
        std::fclose(in);
    const wxString name = fromStdin ? wxString("from standard input") : path;
    if (readError != 0) {
        error = wxString::Format("Cannot read the list %s: %s", name, std::strerror(readError));
        return false;
    }
    if (tooLarge) {
        error = wxString::Format("The list %s is larger than %zu MB", name,
                                 kMaxListFileBytes / (1024 * 1024));
        return false;
    }
    numbers = NumbersOfList(bytes, fromStdin ? ListFormat::Lines : ListFormatOfName(path));
    return true;
}
