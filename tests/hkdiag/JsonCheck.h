// A strict JSON syntax check (RFC 8259) for the tests: answers the offset of
// the first error, or npos when text is one valid JSON value (blanks and line
// ends around it allowed). Numbers are integers only: the tool writes no others.
#pragma once

#include <cctype>
#include <cstring>
#include <string>

namespace hk::test {

class JsonCheck {
public:
    static size_t FirstError(const std::string& text) {
        JsonCheck check(text);
        bool ok = check.Value() && (check.Space(), check.m_at == text.size());
        return ok ? std::string::npos : check.m_at;
    }

private:
    explicit JsonCheck(const std::string& text) : m_text(text) {}

    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    bool Digit() const { return std::isdigit(static_cast<unsigned char>(Peek())) != 0; }
    void Space() {
        while (Peek() != '\0' && std::strchr(" \t\r\n", Peek()) != nullptr) {
            ++m_at;
        }
    }
    bool Eat(char c) { return Space(), Peek() == c ? (++m_at, true) : false; }
    bool Value() {
        Space();
        for (const char* word : {"true", "false", "null"}) {
            if (m_text.compare(m_at, std::strlen(word), word) == 0) {
                return m_at += std::strlen(word), true;
            }
        }
        switch (Peek()) {
        case '{':
            return Members('}', true);
        case '[':
            return Members(']', false);
        case '"':
            return String();
        }
        m_at += Peek() == '-' ? 1 : 0;
        if (!Digit()) {
            return false;
        }
        if (Peek() == '0') { // no leading zeros
            return ++m_at, true;
        }
        while (Digit()) {
            ++m_at;
        }
        return true;
    }
    bool Members(char close, bool named) {
        ++m_at;
        if (Eat(close)) {
            return true;
        }
        do {
            if ((named && !(Space(), Peek() == '"' && String() && Eat(':'))) || !Value()) {
                return false;
            }
        } while (Eat(','));
        return Eat(close);
    }
    bool String() {
        for (++m_at; Peek() != '"'; ++m_at) {
            unsigned char c = static_cast<unsigned char>(Peek());
            if (c < 0x20) { // the text's end included
                return false;
            }
            if (c == '\\' && (++m_at, Peek() == 'u')) {
                for (int i = 0; i < 4; ++i) {
                    if (++m_at, !std::isxdigit(static_cast<unsigned char>(Peek()))) {
                        return false;
                    }
                }
            } else if (c == '\\' && (Peek() == '\0' || std::strchr("\"\\/bfnrt", Peek()) == nullptr)) {
                return false;
            }
        }
        return ++m_at, true;
    }

    const std::string& m_text;
    size_t m_at = 0;
};

} // namespace hk::test
