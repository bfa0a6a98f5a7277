// Counted 8-bit and UTF-16 strings with the face of ATL's CStringA/CStringW as
// far as the library and its callers use it. Text crosses widths through the
// system ANSI code page, as ATL's conversions do.
#pragma once

#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace hk {
namespace detail {

inline int FormatLength(const char* format, va_list args) {
    return _vscprintf(format, args);
}
inline int FormatLength(const wchar_t* format, va_list args) {
    return _vscwprintf(format, args);
}
inline int FormatInto(char* buffer, size_t count, const char* format, va_list args) {
    return _vsnprintf(buffer, count, format, args);
}
inline int FormatInto(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    return _vsnwprintf(buffer, count, format, args);
}
inline size_t Length(const char* text) {
    return std::strlen(text);
}
inline size_t Length(const wchar_t* text) {
    return std::wcslen(text);
}
inline int CompareNoCase(const char* a, const char* b) {
    return ::lstrcmpiA(a, b);
}
inline int CompareNoCase(const wchar_t* a, const wchar_t* b) {
    return ::lstrcmpiW(a, b);
}
inline void Upper(std::string& s) {
    if (!s.empty()) {
        ::CharUpperBuffA(&s[0], static_cast<DWORD>(s.size()));
    }
}
inline void Upper(std::wstring& s) {
    if (!s.empty()) {
        ::CharUpperBuffW(&s[0], static_cast<DWORD>(s.size()));
    }
}
inline void Lower(std::string& s) {
    if (!s.empty()) {
        ::CharLowerBuffA(&s[0], static_cast<DWORD>(s.size()));
    }
}
inline void Lower(std::wstring& s) {
    if (!s.empty()) {
        ::CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    }
}

inline std::wstring Widen(const char* text, size_t length) {
    std::wstring out;
    if (length == 0) {
        return out;
    }
    int n = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &out[0], n);
    }
    return out;
}
inline std::string Narrow(const wchar_t* text, size_t length) {
    std::string out;
    if (length == 0) {
        return out;
    }
    int n = ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    }
    return out;
}

} // namespace detail

template <typename Ch, typename OtherCh>
class CStringT {
public:
    using XCHAR = Ch;
    using PCXSTR = const Ch*;

    CStringT() = default;
    CStringT(const Ch* text) : m_s(text ? text : EmptyText()) {}
    CStringT(const Ch* text, int length)
        : m_s(text ? std::basic_string<Ch>(text, static_cast<size_t>(length)) : std::basic_string<Ch>()) {}
    CStringT(const std::basic_string<Ch>& text) : m_s(text) {}
    CStringT(Ch ch, int repeat = 1) : m_s(static_cast<size_t>(repeat > 0 ? repeat : 0), ch) {}
    // Converts through the system ANSI code page, as ATL does.
    explicit CStringT(const OtherCh* text) {
        if (text != nullptr) {
            m_s = Convert(text, detail::Length(text));
        }
    }

    CStringT& operator=(const Ch* text) {
        m_s = text ? text : EmptyText();
        return *this;
    }
    CStringT& operator+=(const CStringT& other) {
        m_s += other.m_s;
        return *this;
    }
    CStringT& operator+=(const Ch* text) {
        if (text != nullptr) {
            m_s += text;
        }
        return *this;
    }
    CStringT& operator+=(Ch ch) {
        m_s += ch;
        return *this;
    }
    void Append(const Ch* text, int length) {
        if (text != nullptr && length > 0) {
            m_s.append(text, static_cast<size_t>(length));
        }
    }

    operator const Ch*() const noexcept { return m_s.c_str(); }
    const Ch* GetString() const noexcept { return m_s.c_str(); }
    const std::basic_string<Ch>& str() const noexcept { return m_s; }
    int GetLength() const noexcept { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const noexcept { return m_s.empty(); }
    void Empty() noexcept { m_s.clear(); }
    Ch GetAt(int index) const { return m_s.at(static_cast<size_t>(index)); }
    Ch operator[](int index) const { return m_s.at(static_cast<size_t>(index)); }

    // printf-style formatting with the C runtime's conventions (in wide
    // formats %s takes wide text, %S narrow text).
    void Format(const Ch* format, ...) {
        va_list args;
        va_start(args, format);
        FormatV(format, args);
        va_end(args);
    }
    void AppendFormat(const Ch* format, ...) {
        va_list args;
        va_start(args, format);
        CStringT more;
        more.FormatV(format, args);
        va_end(args);
        m_s += more.m_s;
    }
    void FormatV(const Ch* format, va_list args) {
        va_list probe;
        va_copy(probe, args);
        int length = detail::FormatLength(format, probe);
        va_end(probe);
        if (length < 0) {
            m_s.clear();
            return;
        }
        std::basic_string<Ch> out(static_cast<size_t>(length) + 1, Ch());
        detail::FormatInto(&out[0], out.size(), format, args);
        out.resize(static_cast<size_t>(length));
        m_s.swap(out);
    }

    int Find(Ch ch, int start = 0) const noexcept { return ToIndex(m_s.find(ch, Start(start))); }
    int Find(const Ch* text, int start = 0) const noexcept {
        return text ? ToIndex(m_s.find(text, Start(start))) : -1;
    }
    int ReverseFind(Ch ch) const noexcept { return ToIndex(m_s.rfind(ch)); }

    CStringT Left(int count) const { return CStringT(m_s.substr(0, Clamp(count))); }
    CStringT Right(int count) const {
        size_t n = Clamp(count);
        return CStringT(m_s.substr(m_s.size() - n));
    }
    CStringT Mid(int first) const { return CStringT(m_s.substr(Start(first))); }
    CStringT Mid(int first, int count) const { return CStringT(m_s.substr(Start(first), Clamp(count))); }

    int Compare(const Ch* other) const { return m_s.compare(other ? other : EmptyText()); }
    int CompareNoCase(const Ch* other) const {
        return detail::CompareNoCase(m_s.c_str(), other ? other : EmptyText());
    }
    CStringT& MakeUpper() {
        detail::Upper(m_s);
        return *this;
    }
    CStringT& MakeLower() {
        detail::Lower(m_s);
        return *this;
    }
    CStringT& Trim() {
        size_t first = m_s.find_first_not_of(Blanks());
        if (first == std::basic_string<Ch>::npos) {
            m_s.clear();
            return *this;
        }
        m_s = m_s.substr(first, m_s.find_last_not_of(Blanks()) - first + 1);
        return *this;
    }
    int Replace(const Ch* from, const Ch* to) {
        if (from == nullptr || *from == 0) {
            return 0;
        }
        std::basic_string<Ch> f(from), t(to ? to : EmptyText());
        int count = 0;
        for (size_t at = m_s.find(f); at != std::basic_string<Ch>::npos; at = m_s.find(f, at + t.size())) {
            m_s.replace(at, f.size(), t);
            ++count;
        }
        return count;
    }

    // Direct access for APIs that fill a caller's buffer.
    Ch* GetBuffer(int minLength) {
        if (minLength > GetLength()) {
            m_s.resize(static_cast<size_t>(minLength));
        }
        return &m_s[0];
    }
    void ReleaseBuffer(int newLength = -1) {
        m_s.resize(newLength < 0 ? detail::Length(m_s.c_str()) : static_cast<size_t>(newLength));
    }

    friend CStringT operator+(const CStringT& a, const CStringT& b) { return CStringT(a.m_s + b.m_s); }
    friend CStringT operator+(const CStringT& a, const Ch* b) {
        return CStringT(a.m_s + (b ? b : EmptyText()));
    }
    friend CStringT operator+(const Ch* a, const CStringT& b) {
        return CStringT((a ? a : EmptyText()) + b.m_s);
    }
    friend bool operator==(const CStringT& a, const CStringT& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CStringT& a, const Ch* b) { return a.Compare(b) == 0; }
    friend bool operator!=(const CStringT& a, const CStringT& b) { return !(a == b); }
    friend bool operator!=(const CStringT& a, const Ch* b) { return !(a == b); }
    friend bool operator<(const CStringT& a, const CStringT& b) { return a.m_s < b.m_s; }

private:
    static const Ch* EmptyText() noexcept {
        static const Ch none[1] = {};
        return none;
    }
    static const Ch* Blanks() noexcept {
        static const Ch blanks[] = {' ', '\t', '\r', '\n', '\v', '\f', 0};
        return blanks;
    }
    static std::basic_string<Ch> Convert(const OtherCh* text, size_t length);
    size_t Start(int index) const noexcept {
        return index <= 0
                   ? 0
                   : (static_cast<size_t>(index) > m_s.size() ? m_s.size() : static_cast<size_t>(index));
    }
    size_t Clamp(int count) const noexcept {
        return count <= 0
                   ? 0
                   : (static_cast<size_t>(count) > m_s.size() ? m_s.size() : static_cast<size_t>(count));
    }
    static int ToIndex(size_t at) noexcept {
        return at == std::basic_string<Ch>::npos ? -1 : static_cast<int>(at);
    }

    std::basic_string<Ch> m_s;
};

template <>
inline std::wstring CStringT<wchar_t, char>::Convert(const char* text, size_t length) {
    return detail::Widen(text, length);
}
template <>
inline std::string CStringT<char, wchar_t>::Convert(const wchar_t* text, size_t length) {
    return detail::Narrow(text, length);
}

} // namespace hk

using CStringW = hk::CStringT<wchar_t, char>;
using CStringA = hk::CStringT<char, wchar_t>;
