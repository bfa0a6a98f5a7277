#include "Json.h"

#include <cstdio>

namespace hkdiag {
namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) {
        return 0;
    }
    unsigned char second = static_cast<unsigned char>(text[i + 1]);
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F)) {
        return 0;
    }
    for (size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            size_t n = Utf8SequenceLength(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

JsonObject& JsonObject::Raw(std::string_view name, std::string_view value) {
    if (m_text.size() > 1) {
        m_text += ',';
    }
    m_text += JsonString(name);
    m_text += ':';
    m_text.append(value);
    return *this;
}

JsonObject& JsonObject::Members(std::string_view members) {
    if (!members.empty()) {
        m_text += m_text.size() > 1 ? "," : "";
        m_text.append(members);
    }
    return *this;
}

JsonObject& JsonObject::Text(std::string_view name, std::string_view value) {
    return Raw(name, JsonString(value));
}

JsonObject& JsonObject::Number(std::string_view name, long long value) {
    return Raw(name, std::to_string(value));
}

JsonObject& JsonObject::Bool(std::string_view name, bool value) {
    return Raw(name, value ? "true" : "false");
}

} // namespace hkdiag
