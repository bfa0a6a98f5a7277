// A strict JSON syntax check (RFC 8259) for the tests: answers the offset of
// the first error, or npos when text is one valid JSON value. Numbers are
// integers only: the tool writes no others.
#pragma once

#include <cctype>
#include <string>

namespace hk::test {

class JsonCheck {
public:
    static size_t FirstError(const std::string& text) {
        JsonCheck check(text);
        check.Space();
        if (!check.Value()) {
            return check.m_at;
        }
        check.Space();
        return check.m_at == text.size() ? std::string::npos : check.m_at;
    }

private:
    explicit JsonCheck(const std::string& text) : m_text(text) {}

    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    void Space() {
        while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') {
            ++m_at;
        }
    }
    bool Literal(const char* word) {
        size_t n = std::char_traits<char>::length(word);
        if (m_text.compare(m_at, n, word) != 0) {
            return false;
        }
        m_at += n;
        return true;
    }
    bool Value() {
        switch (Peek()) {
        case '{':
            return Members('}', true);
        case '[':
            return Members(']', false);
        case '"':
            return String();
        case 't':
            return Literal("true");
        case 'f':
            return Literal("false");
        case 'n':
            return Literal("null");
        default:
            return Number();
        }
    }
    bool Members(char close, bool named) {
        ++m_at;
        Space();
        if (Peek() == close) {
            ++m_at;
            return true;
        }
        for (;;) {
            Space();
            if (named) {
                if (!String()) {
                    return false;
                }
                Space();
                if (Peek() != ':') {
                    return false;
                }
                ++m_at;
                Space();
            }
            if (!Value()) {
                return false;
            }
            Space();
            if (Peek() == close) {
                ++m_at;
                return true;
            }
            if (Peek() != ',') {
                return false;
            }
            ++m_at;
        }
    }
    bool String() {
        if (Peek() != '"') {
            return false;
        }
        for (++m_at; m_at < m_text.size(); ++m_at) {
            unsigned char c = static_cast<unsigned char>(m_text[m_at]);
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                char e = m_at + 1 < m_text.size() ? m_text[++m_at] : '\0';
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i) {
                        char h = m_at + 1 < m_text.size() ? m_text[++m_at] : '\0';
                        if (!std::isxdigit(static_cast<unsigned char>(h))) {
                            return false;
                        }
                    }
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos || e == '\0') {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number() {
        size_t start = m_at;
        if (Peek() == '-') {
            ++m_at;
        }
        if (!std::isdigit(static_cast<unsigned char>(Peek()))) {
            return false;
        }
        if (Peek() == '0') {
            ++m_at;
        } else {
            while (std::isdigit(static_cast<unsigned char>(Peek()))) {
                ++m_at;
            }
        }
        return m_at > start;
    }

    const std::string& m_text;
    size_t m_at = 0;
};

} // namespace hk::test
