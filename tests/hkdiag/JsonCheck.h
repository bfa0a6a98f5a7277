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
        JsonCheck check{text};
        bool ok = check.Value() && (check.Space(), check.at == text.size());
        return ok ? std::string::npos : check.at;
    }

private:
    explicit JsonCheck(const std::string& checked) : text(checked) {}
    const std::string& text;
    size_t at = 0;

    // The text's end reads as NUL, which no rule accepts.
    unsigned char Peek() const { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0; }
    void Space() {
        while (Peek() != 0 && std::strchr(" \t\r\n", Peek()) != nullptr) {
            ++at;
        }
    }
    bool Eat(char c) { return Space(), Peek() == c ? (++at, true) : false; }
    bool Value() {
        Space();
        for (const char* word : {"true", "false", "null"}) {
            if (text.compare(at, std::strlen(word), word) == 0) {
                return at += std::strlen(word), true;
            }
        }
        if (Peek() == '{' || Peek() == '[') {
            const bool named = text[at++] == '{';
            const char close = named ? '}' : ']';
            if (Eat(close)) {
                return true;
            }
            do {
                if ((named && !(Space(), Peek() == '"' && Value() && Eat(':'))) || !Value()) {
                    return false;
                }
            } while (Eat(','));
            return Eat(close);
        }
        if (Peek() == '"') {
            for (++at; Peek() != '"'; ++at) {
                if (Peek() < 0x20) {
                    return false;
                }
                const bool escaped = Peek() == '\\' && (++at, true);
                if (escaped && Peek() == 'u') {
                    for (int i = 0; i < 4; ++i) {
                        if (++at, !std::isxdigit(Peek())) {
                            return false;
                        }
                    }
                } else if (escaped && (Peek() == 0 || !std::strchr("\"\\/bfnrt", Peek()))) {
                    return false;
                }
            }
            return ++at, true;
        }
        at += Peek() == '-' ? 1 : 0;
        if (!std::isdigit(Peek())) {
            return false;
        }
        if (Peek() == '0') { // no leading zeros
            return ++at, true;
        }
        while (std::isdigit(Peek())) {
            ++at;
        }
        return true;
    }
};

} // namespace hk::test
