#include "jobText.h"

namespace jobtext {

bool AtEnd(wxInputStream& in) {
    if (!in.IsOk())
        return true;
    const wxFileOffset length = in.GetLength();
    const wxFileOffset pos = in.TellI();
    if (length != wxInvalidOffset && pos != wxInvalidOffset)
        return pos >= length;
    in.Peek();
    return in.LastRead() == 0;
}

bool ReadLine(wxInputStream& in, wxString& line) {
    std::string bytes;
    bool any = false;
    for (;;) {
        const int c = in.GetC();
        if (c == wxEOF || in.LastRead() == 0)
            break;
        any = true;
        if (c == '\n')
            break;
        if (c == '\r') {
            // A CR LF pair ends the line as one; a lone CR leaves the next byte unread.
            const int next = in.GetC();
            if (in.LastRead() != 0 && next != '\n') {
                if (in.IsSeekable())
                    in.SeekI(-1, wxFromCurrent);
                else
                    in.Ungetch(static_cast<char>(next));
            }
            break;
        }
        bytes.push_back(static_cast<char>(c));
    }
    line = wxString::From8BitData(bytes.data(), bytes.size());
    return any;
}

wxString PercentEncode(const wxString& text) {
    static const char hex[] = "0123456789ABCDEF";
    const wxScopedCharBuffer utf8 = text.utf8_str();
    wxString out;
    for (size_t i = 0; i < utf8.length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8.data()[i]);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += wxUniChar(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

wxString XmlEscape(const wxString& text) {
    wxString out;
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        const wxUniChar::value_type c = (*it).GetValue();
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\t':
        case '\n':
        case '\r':
            // As references, so attribute normalisation keeps them.
            out += wxString::Format("&#%u;", static_cast<unsigned>(c));
            break;
        default:
            if ((c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
                (c >= 0x10000 && c <= 0x10FFFF))
                out += *it;
            break;
        }
    }
    return out;
}

wxString XmlEscapeTwice(const wxString& text) {
    return XmlEscape(XmlEscape(text));
}

wxString XmlUnescape(const wxString& text) {
    wxString out;
    size_t i = 0;
    while (i < text.length()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == wxString::npos || semi - i > 10) {
            out += text[i++];
            continue;
        }
        const wxString name = text.substr(i + 1, semi - i - 1);
        wxString value;
        if (name == "amp")
            value = "&";
        else if (name == "lt")
            value = "<";
        else if (name == "gt")
            value = ">";
        else if (name == "quot")
            value = "\"";
        else if (name == "apos")
            value = "'";
        else if (name.length() > 1 && name[0] == '#') {
            unsigned long code = 0;
            const bool ok =
                name[1] == 'x' ? name.Mid(2).ToULong(&code, 16) : name.Mid(1).ToULong(&code, 10);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
                value = wxUniChar(static_cast<wxUniChar::value_type>(code));
        }
        if (value.empty()) {
            out += text[i++];
            continue;
        }
        out += value;
        i = semi + 1;
    }
    return out;
}

} // namespace jobtext
