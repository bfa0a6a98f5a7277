#include "log/LogFormat.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>

namespace hklog {

DecodedLevel DecodeLoggingLevel(DWORD value) noexcept {
    DecodedLevel decoded = {1, (value & 0x80000000u) != 0};
    switch (value & 0xFFFFu) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 9:
        decoded.level = static_cast<int>(value & 0xFFFFu);
        break;
    default:
        break;
    }
    return decoded;
}

bool BuildLogFileName(wchar_t* out, size_t chars, const wchar_t* dir, const SYSTEMTIME& t,
                      unsigned sequence) noexcept {
    wchar_t stamp[32];
    _snwprintf(stamp, 32, L"%04u%02u%02u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
               t.wSecond);
    stamp[31] = L'\0';
    int n = sequence == 0 ? _snwprintf(out, chars, L"%ssh_client_log_%s.txt", dir, stamp)
                          : _snwprintf(out, chars, L"%ssh_client_log_%s_%02u.txt", dir, stamp, sequence);
    if (n < 0 || static_cast<size_t>(n) >= chars) {
        if (chars > 0) {
            out[0] = L'\0';
        }
        return false;
    }
    return true;
}

namespace {

// Zero-padded decimal of a fixed width; the hot path avoids the runtime's
// printf, which is slow under some C runtimes.
char* PutDigits(char* out, unsigned value, int width) noexcept {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

} // namespace

bool RenderTimeStamp(const FILETIME& time, char* out, size_t chars) noexcept {
    out[0] = '\0';
    SYSTEMTIME st;
    if (chars < 24 || !::FileTimeToSystemTime(&time, &st)) {
        return false;
    }
    // "dd/MM/yyyy HH:mm:ss.sss"
    char* p = PutDigits(out, st.wDay, 2);
    *p++ = '/';
    p = PutDigits(p, st.wMonth, 2);
    *p++ = '/';
    p = PutDigits(p, st.wYear, 4);
    *p++ = ' ';
    p = PutDigits(p, st.wHour, 2);
    *p++ = ':';
    p = PutDigits(p, st.wMinute, 2);
    *p++ = ':';
    p = PutDigits(p, st.wSecond, 2);
    *p++ = '.';
    p = PutDigits(p, st.wMilliseconds, 3);
    *p = '\0';
    return true;
}

size_t FormatThreadField(char* out, unsigned thread) noexcept {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + thread % 10);
        thread /= 10;
    } while (thread != 0);
    char* p = out;
    *p++ = '[';
    for (int pad = n; pad < 4; ++pad) {
        *p++ = ' ';
    }
    while (n > 0) {
        *p++ = digits[--n];
    }
    *p++ = ']';
    *p = '\0';
    return static_cast<size_t>(p - out);
}

size_t ComposeHeader(char* out, size_t cap, const char* stamp, const char* thread, const char* prefix,
                     size_t prefixLength, const char* format) noexcept {
    size_t stampLength = std::strlen(stamp), threadLength = std::strlen(thread),
           formatLength = std::strlen(format);
    size_t length = stampLength + threadLength + 2 + prefixLength + formatLength;
    if (length + 1 > cap) {
        return length + 1;
    }
    char* p = out;
    std::memcpy(p, stamp, stampLength);
    p += stampLength;
    std::memcpy(p, thread, threadLength);
    p += threadLength;
    *p++ = ':';
    *p++ = ' ';
    std::memcpy(p, prefix, prefixLength);
    p += prefixLength;
    std::memcpy(p, format, formatLength + 1);
    return length;
}

size_t CountLineFeeds(const char* data, size_t len) noexcept {
    // A plain loop: the runtime's memchr is no faster for records this short.
    size_t count = 0;
    for (size_t i = 0; i < len; ++i) {
        count += data[i] == '\n' ? 1 : 0;
    }
    return count;
}

size_t ExpandLineFeeds(char* data, size_t len, size_t feeds, size_t cap) noexcept {
    size_t out = len + feeds;
    if (feeds == 0 || out > cap) {
        return feeds == 0 ? len : 0;
    }
    // Most records hold one line feed, at their end.
    if (feeds == 1 && data[len - 1] == '\n') {
        data[len - 1] = '\r';
        data[len] = '\n';
        return out;
    }
    // Backwards, so the expansion works in place.
    for (size_t i = len, j = out; i > 0;) {
        char c = data[--i];
        data[--j] = c;
        if (c == '\n') {
            data[--j] = '\r';
        }
    }
    return out;
}

Utf8Text::Utf8Text(const wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    size_t estimate = (std::wcslen(text) + 1) * 4;
    char* buffer = m_fixed;
    if (estimate > sizeof(m_fixed)) {
        m_heap.reset(new char[estimate]);
        buffer = m_heap.get();
    }
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, static_cast<int>(estimate), nullptr, nullptr);
    if (n == 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        int exact = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        if (exact > 0) {
            m_heap.reset(new char[exact]);
            buffer = m_heap.get();
            n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, exact, nullptr, nullptr);
        }
    }
    if (n == 0) {
        throw std::runtime_error("wide text cannot be converted to UTF-8");
    }
    m_text = buffer;
}

void RecordBuffer::ThrowIfNegative(int n) {
    if (n < 0) {
        throw std::runtime_error("log record format rejected");
    }
}

void RecordBuffer::Grow(size_t cap, size_t keep) {
    if (cap <= m_cap) {
        return;
    }
    std::unique_ptr<char[]> bigger(new char[cap]);
    std::memcpy(bigger.get(), m_data, keep);
    m_heap = std::move(bigger);
    m_data = m_heap.get();
    m_cap = cap;
}

void RecordBuffer::Finish(size_t len) {
    size_t feeds = CountLineFeeds(m_data, len);
    Grow(len + feeds, len);
    m_len = ExpandLineFeeds(m_data, len, feeds, m_cap);
}

} // namespace hklog
