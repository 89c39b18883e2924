#include "numberList.h"

#include "files.h"

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

// The first field of the CSV record at pos, moving pos past the record's line break. As
// RFC 4180 has it, a field in double quotes may hold commas, line breaks and "" for a quote,
// in any field: a record ends only at a line break outside quotes. Text after a closing
// quote stays part of the field rather than being lost.
std::string firstCsvField(const std::string& bytes, size_t& pos) {
    std::string first;
    for (bool firstField = true;; firstField = false) {
        std::string value;
        size_t i = pos;
        while (i < bytes.size() && isBlank(bytes[i]))
            ++i;
        if (i < bytes.size() && bytes[i] == '"') {
            pos = i + 1;
            bool closed = false;
            while (pos < bytes.size() && !closed) {
                const char c = bytes[pos++];
                if (c != '"')
                    value += c;
                else if (pos < bytes.size() && bytes[pos] == '"')
                    value += bytes[pos++];
                else
                    closed = true;
            }
            // A quote never closed would swallow the rest of the file: it ends with its line.
            const size_t lineEnd = bytes.find_first_of("\r\n", i);
            if (!closed && lineEnd != std::string::npos) {
                pos = lineEnd;
                value = bytes.substr(i + 1, lineEnd - i - 1);
            }
        }
        while (pos < bytes.size() && bytes[pos] != ',' && bytes[pos] != '\r' && bytes[pos] != '\n')
            value += bytes[pos++];
        if (firstField)
            first = trimmed(value);
        if (pos < bytes.size() && bytes[pos] == ',') {
            ++pos;
            continue;
        }
        break;
    }
    if (pos < bytes.size() && bytes[pos] == '\r')
        ++pos;
    if (pos < bytes.size() && bytes[pos] == '\n')
        ++pos;
    return first;
}

// The line at pos, trimmed, moving pos past its line break (LF, CR LF or CR).
std::string nextLine(const std::string& bytes, size_t& pos) {
    size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string::npos)
        end = bytes.size();
    std::string line = trimmed(bytes.substr(pos, end - pos));
    pos = end + 1;
    if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
        pos = end + 2;
    return line;
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
        // Blank lines and comments are skipped before a CSV record is read, so a quote in a
        // comment cannot swallow the lines after it.
        size_t lineStart = pos;
        const std::string line = nextLine(bytes, pos);
        if (line.empty() || line[0] == '#')
            continue;
        std::string number = line;
        if (format == ListFormat::Csv) {
            pos = lineStart;
            number = firstCsvField(bytes, pos);
        }
        if (!number.empty())
            numbers.push_back(lineText(number));
    }
    return numbers;
}

bool ReadListFile(const wxString& path, std::vector<wxString>& numbers, wxString& error) {
    const bool fromStdin = path == "-";
    std::FILE* in = fromStdin ? stdin : platform::OpenForReading(path);
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
