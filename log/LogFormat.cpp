#include "log/LogFormat.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>

namespace hk {
namespace log {

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

void LogClock::Anchor(const ClockSource& source) noexcept {
    m_source = source;
    LARGE_INTEGER frequency;
    if (!source.frequency(&frequency) || frequency.QuadPart <= 0) {
        return;
    }
    m_countsPer100ns = static_cast<double>(frequency.QuadPart) / 10000000.0;
    FILETIME now;
    source.systemTime(&now);
    LARGE_INTEGER counter;
    source.counter(&counter);
    m_anchorTime = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    m_anchorCounter = counter.QuadPart;
    m_useCounter = true;
}

ULONGLONG LogClock::Now() const noexcept {
    if (!m_useCounter) {
        FILETIME now;
        m_source.systemTime(&now);
        return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    }
    LARGE_INTEGER counter;
    m_source.counter(&counter);
    // The quotient is truncated to whole 100-nanosecond units.
    return m_anchorTime +
           static_cast<ULONGLONG>(static_cast<double>(counter.QuadPart - m_anchorCounter) / m_countsPer100ns);
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
    if (chars < kStampChars + 1 || !::FileTimeToSystemTime(&time, &st)) {
        return false;
    }
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

void StampRenderer::Render(ULONGLONG time, char* out) noexcept {
    const ULONGLONG second = time / 10000000;
    if (second != m_second) {
        FILETIME ft = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
        if (!RenderTimeStamp(ft, m_text, sizeof(m_text))) {
            out[0] = '\0';
            return;
        }
        m_second = second;
    }
    std::memcpy(out, m_text, kStampChars - 3);
    PutDigits(out + kStampChars - 3, static_cast<unsigned>(time / 10000 % 1000), 3);
    out[kStampChars] = '\0';
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

size_t LineStart::Length() const noexcept {
    return std::strlen(stamp) + std::strlen(thread) + 2 + prefixLength;
}

char* LineStart::WriteTo(char* out) const noexcept {
    size_t stampLength = std::strlen(stamp), threadLength = std::strlen(thread);
    std::memcpy(out, stamp, stampLength);
    out += stampLength;
    std::memcpy(out, thread, threadLength);
    out += threadLength;
    *out++ = ':';
    *out++ = ' ';
    std::memcpy(out, prefix, prefixLength);
    return out + prefixLength;
}

int FormatPlain(char* out, size_t cap, const char* format, const FormatArg* args, size_t count) noexcept {
    char* p = out;
    char* const end = out + cap;
    size_t next = 0;
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            if (p == end) {
                return -1;
            }
            *p++ = *f;
            continue;
        }
        ++f;
        if (*f == '%') {
            if (p == end) {
                return -1;
            }
            *p++ = '%';
            continue;
        }
        // A size: 'l' (32 bits here, as int) or "I64"; %ls would be wide text.
        bool sized = false, wide64 = false;
        if (*f == 'l') {
            sized = true;
            ++f;
        } else if (f[0] == 'I' && f[1] == '6' && f[2] == '4') {
            sized = wide64 = true;
            f += 3;
        }
        if (next == count) {
            return -1;
        }
        const FormatArg& arg = args[next++];
        char digits[24];
        const char* text = digits;
        size_t length = 0;
        if (*f == 's' && !sized && arg.kind == FormatArg::kText) {
            text = arg.text != nullptr ? arg.text : "(null)";
            length = std::strlen(text);
        } else if (std::strchr("diuxX", *f) != nullptr && *f != '\0' &&
                   arg.kind == (wide64 ? FormatArg::kInt64 : FormatArg::kInt32)) {
            // As the runtime reads the argument: signed or not, 32 or 64 bits.
            ULONGLONG value = wide64 ? static_cast<ULONGLONG>(arg.number)
                                     : static_cast<ULONGLONG>(static_cast<unsigned>(arg.number));
            bool negative = false;
            if (*f == 'd' || *f == 'i') {
                __int64 signedValue = wide64 ? arg.number : static_cast<int>(arg.number);
                negative = signedValue < 0;
                value =
                    negative ? 0 - static_cast<ULONGLONG>(signedValue) : static_cast<ULONGLONG>(signedValue);
            }
            unsigned base = (*f == 'x' || *f == 'X') ? 16 : 10;
            const char* alphabet = *f == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            char* q = digits + sizeof(digits);
            do {
                *--q = alphabet[value % base];
                value /= base;
            } while (value != 0);
            if (negative) {
                *--q = '-';
            }
            text = q;
            length = static_cast<size_t>(digits + sizeof(digits) - q);
        } else {
            return -1;
        }
        if (static_cast<size_t>(end - p) < length) {
            return -1;
        }
        std::memcpy(p, text, length);
        p += length;
    }
    return static_cast<int>(p - out);
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

void RecordBuffer::Reserve(size_t more) {
    if (m_len + more <= m_cap) {
        return;
    }
    size_t cap = std::max(m_cap * 2, m_len + more);
    std::unique_ptr<char[]> bigger(new char[cap]);
    std::memcpy(bigger.get(), m_data, m_len);
    m_heap = std::move(bigger);
    m_data = m_heap.get();
    m_cap = cap;
}

void RecordBuffer::BeginHeaded(const char* thread, const char* prefix, size_t prefixLength) {
    static const char kBlankStamp[kStampChars + 1] = "                       ";
    LineStart start = {kBlankStamp, thread, prefix, prefixLength};
    m_len = 0;
    Reserve(start.Length());
    m_len = static_cast<size_t>(start.WriteTo(m_data) - m_data);
    m_headed = true;
}

void RecordBuffer::SetStamp(const char* stamp) noexcept {
    std::memcpy(m_data, stamp, kStampChars);
}

void RecordBuffer::Append(const char* text, size_t length) {
    const char* end = text + length;
    while (text < end) {
        const char* feed = static_cast<const char*>(std::memchr(text, '\n', static_cast<size_t>(end - text)));
        size_t run = static_cast<size_t>((feed != nullptr ? feed : end) - text);
        // Room for this run and its CR LF; the rest grows the buffer only
        // if it holds further line feeds.
        Reserve(static_cast<size_t>(end - text) + 1);
        std::memcpy(m_data + m_len, text, run);
        m_len += run;
        text += run;
        if (feed != nullptr) {
            m_data[m_len++] = '\r';
            m_data[m_len++] = '\n';
            ++text;
        }
    }
}

void RecordBuffer::Append(const char* text) {
    Append(text, std::strlen(text));
}

void RecordBuffer::AppendHex(unsigned value) {
    char digits[10] = {'0', 'x'};
    char* p = digits + sizeof(digits);
    do {
        *--p = "0123456789ABCDEF"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    size_t count = static_cast<size_t>(digits + sizeof(digits) - p);
    std::memmove(digits + 2, p, count);
    Append(digits, count + 2);
}

} // namespace log
} // namespace hk
