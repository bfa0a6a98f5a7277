// A strict JSON syntax check (RFC 8259) for the tests: answers the offset of
// the first error, or npos when text is one valid JSON value (blanks and line
// ends around it allowed). Numbers are integers only: the tool writes no others.
#pragma once

#include <cctype>
#include <string>

namespace hk::test {

class JsonCheck {
public:
    static size_t FirstError(const std::string& text) {
        JsonCheck check(text);
        bool ok = check.Value();
        check.Space();
        return ok && check.m_at == text.size() ? std::string::npos : check.m_at;
    }

private:
    explicit JsonCheck(const std::string& text) : m_text(text) {}

    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    bool Eat(char c) {
        Space();
        return Peek() == c ? (++m_at, true) : false;
    }
    void Space() {
        while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') {
            ++m_at;
        }
    }
    bool Value() {
        Space();
        for (const char* word : {"true", "false", "null"}) {
            if (m_text.compare(m_at, std::char_traits<char>::length(word), word) == 0) {
                m_at += std::char_traits<char>::length(word);
                return true;
            }
        }
        char c = Peek();
        return c == '{'   ? Members('}', true)
               : c == '[' ? Members(']', false)
               : c == '"' ? String()
                          : Number();
    }
    bool Members(char close, bool named) {
        ++m_at;
        if (Eat(close)) {
            return true;
        }
        do {
            if (named && (!Eat('"') || (--m_at, !String()) || !Eat(':'))) {
                return false;
            }
            if (!Value()) {
                return false;
            }
        } while (Eat(','));
        return Eat(close);
    }
    bool String() {
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
                char e = ++m_at < m_text.size() ? m_text[m_at] : '\0';
                bool hex = e == 'u';
                for (int i = 0; hex && i < 4; ++i) {
                    hex = ++m_at < m_text.size() && std::isxdigit(static_cast<unsigned char>(m_text[m_at]));
                }
                if (e == 'u' ? !hex : e == '\0' || std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number() {
        m_at += Peek() == '-' ? 1 : 0;
        if (!std::isdigit(static_cast<unsigned char>(Peek()))) {
            return false;
        }
        if (Peek() == '0') {
            ++m_at;
            return true;
        }
        while (std::isdigit(static_cast<unsigned char>(Peek()))) {
            ++m_at;
        }
        return true;
    }

    const std::string& m_text;
    size_t m_at = 0;
};

} // namespace hk::test
