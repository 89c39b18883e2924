#include "ppubsJson.h"

#include <cstdint>

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : m_s(text) {}

    bool Document(JsonValue& out, std::string& error) {
        Space();
        if (!Value(out, 0) || (Space(), m_at != m_s.size())) {
            error = m_error.empty() ? "not one JSON value" : m_error;
            return false;
        }
        return true;
    }

private:
    void Space() {
        while (m_at < m_s.size() &&
               (m_s[m_at] == ' ' || m_s[m_at] == '\t' || m_s[m_at] == '\n' || m_s[m_at] == '\r'))
            ++m_at;
    }

    bool Fail(const char* why) {
        if (m_error.empty())
            m_error = why;
        return false;
    }

    bool Word(const char* word) {
        for (size_t i = 0; word[i]; ++i, ++m_at)
            if (m_at >= m_s.size() || m_s[m_at] != word[i])
                return Fail("unknown word");
        return true;
    }

    static void Utf8(uint32_t c, std::string& out) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }

    bool Hex4(uint32_t& c) {
        if (m_s.size() - m_at < 4)
            return Fail("cut-off escape");
        c = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_s[m_at++];
            c <<= 4;
            if (h >= '0' && h <= '9')
                c |= uint32_t(h - '0');
            else if ((h | 0x20) >= 'a' && (h | 0x20) <= 'f')
                c |= uint32_t((h | 0x20) - 'a' + 10);
            else
                return Fail("bad escape");
        }
        return true;
    }

    bool String(std::string& out) {
        ++m_at; // the opening quote
        for (;;) {
            if (m_at >= m_s.size())
                return Fail("cut-off string");
            const unsigned char c = static_cast<unsigned char>(m_s[m_at++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return Fail("control character in a string");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (m_at >= m_s.size())
                return Fail("cut-off escape");
            const char e = m_s[m_at++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t code = 0;
                if (!Hex4(code))
                    return false;
                if (code >= 0xD800 && code < 0xDC00 && m_s.compare(m_at, 2, "\\u") == 0) {
                    m_at += 2;
                    uint32_t low = 0;
                    if (!Hex4(low))
                        return false;
                    code = low >= 0xDC00 && low < 0xE000
                               ? 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00)
                               : 0xFFFD;
                } else if (code >= 0xD800 && code < 0xE000) {
                    code = 0xFFFD;
                }
                Utf8(code, out);
                break;
            }
            default:
                return Fail("bad escape");
            }
        }
    }

    bool Number(std::string& out) {
        const size_t start = m_at;
        auto digits = [this] {
            const size_t from = m_at;
            while (m_at < m_s.size() && m_s[m_at] >= '0' && m_s[m_at] <= '9')
                ++m_at;
            return m_at > from;
        };
        if (m_s[m_at] == '-')
            ++m_at;
        if (!digits())
            return Fail("bad number");
        if (m_at < m_s.size() && m_s[m_at] == '.') {
            ++m_at;
            if (!digits())
                return Fail("bad number");
        }
        if (m_at < m_s.size() && (m_s[m_at] == 'e' || m_s[m_at] == 'E')) {
            ++m_at;
            if (m_at < m_s.size() && (m_s[m_at] == '+' || m_s[m_at] == '-'))
                ++m_at;
            if (!digits())
                return Fail("bad number");
        }
        out.assign(m_s, start, m_at - start);
        return true;
    }

    // Recursion is bounded by kMaxJsonDepth, so the stack is too.
    bool Value(JsonValue& v, int depth) {
        if (m_at >= m_s.size())
            return Fail("cut off");
        if (++m_values > kMaxJsonValues)
            return Fail("too many values");
        const char c = m_s[m_at];
        if (c == '{' || c == '[') {
            if (depth >= kMaxJsonDepth)
                return Fail("nested too deeply");
            ++m_at;
            const bool object = c == '{';
            v.type = object ? JsonValue::Type::Object : JsonValue::Type::Array;
            Space();
            if (m_at < m_s.size() && m_s[m_at] == (object ? '}' : ']')) {
                ++m_at;
                return true;
            }
            for (;;) {
                Space();
                if (object) {
                    if (m_at >= m_s.size() || m_s[m_at] != '"')
                        return Fail("member without a name");
                    v.members.emplace_back();
                    if (!String(v.members.back().first))
                        return false;
                    Space();
                    if (m_at >= m_s.size() || m_s[m_at] != ':')
                        return Fail("member without a value");
                    ++m_at;
                    Space();
                    if (!Value(v.members.back().second, depth + 1))
                        return false;
                } else {
                    v.items.emplace_back();
                    if (!Value(v.items.back(), depth + 1))
                        return false;
                }
                Space();
                if (m_at >= m_s.size())
                    return Fail("cut off");
                if (m_s[m_at] == ',') {
                    ++m_at;
                    continue;
                }
                if (m_s[m_at] != (object ? '}' : ']'))
                    return Fail("missing comma");
                ++m_at;
                return true;
            }
        }
        if (c == '"') {
            v.type = JsonValue::Type::String;
            return String(v.text);
        }
        if (c == 't' || c == 'f') {
            v.type = JsonValue::Type::Bool;
            v.boolean = c == 't';
            return Word(c == 't' ? "true" : "false");
        }
        if (c == 'n')
            return Word("null");
        if (c == '-' || (c >= '0' && c <= '9')) {
            v.type = JsonValue::Type::Number;
            return Number(v.text);
        }
        return Fail("unexpected character");
    }

    const std::string& m_s;
    size_t m_at = 0;
    size_t m_values = 0;
    std::string m_error;
};

} // namespace

const JsonValue* JsonValue::Get(const std::string& key) const {
    if (type != Type::Object)
        return nullptr;
    for (const auto& m : members)
        if (m.first == key)
            return &m.second;
    return nullptr;
}

bool JsonValue::Integer(long long low, long long high, long long& value) const {
    if (type != Type::Number || text.empty() || text.size() > 18 ||
        text.find_first_of(".eE") != std::string::npos)
        return false;
    const bool negative = text[0] == '-';
    long long n = 0;
    for (size_t i = negative ? 1 : 0; i < text.size(); ++i)
        n = n * 10 + (text[i] - '0');
    n = negative ? -n : n;
    if (n < low || n > high)
        return false;
    value = n;
    return true;
}

bool ParseJson(const std::string& text, JsonValue& out, std::string& error) {
    out = JsonValue();
    Reader reader(text);
    if (reader.Document(out, error))
        return true;
    out = JsonValue();
    return false;
}
