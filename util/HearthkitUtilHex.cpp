// HearthkitUtil: binary identifiers (entry IDs and other SBinary values) as
// upper-case hexadecimal text, and back.
#include "HearthkitUtil.h"
#include "CDesktopLog.h"
#include "HkResult.h"

#include <cstdint>
#include <new>

namespace {

const wchar_t kDigits[] = L"0123456789ABCDEF";
// Entry IDs are written for at most this many bytes (500 digits).
const ULONG kMaxEidBytes = 250;
const size_t kEidTextChars = 2 * kMaxEidBytes + 1;
const BYTE kNotHex = 255;

// The value of a hexadecimal digit in either case, or kNotHex.
BYTE HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return static_cast<BYTE>(c - L'0');
    }
    if (c >= L'A' && c <= L'F') {
        return static_cast<BYTE>(c - L'A' + 10);
    }
    if (c >= L'a' && c <= L'f') {
        return static_cast<BYTE>(c - L'a' + 10);
    }
    return kNotHex;
}

// Two digits per byte of bytes[0 .. count) into text, most significant
// nibble first; no terminator.
void WriteHex(const BYTE* bytes, size_t count, wchar_t* text) {
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
}

// The digits of at most kMaxEidBytes bytes of eid, NUL-terminated, into a
// buffer of kEidTextChars characters.
void WriteEidText(const SBinary& eid, wchar_t* text, const char* scope) {
    if (eid.lpb == nullptr && eid.cb != 0) {
        CDesktopLog log(scope);
        HkNullArgument(log, "eid.lpb");
    }
    ULONG count = eid.lpb == nullptr ? 0 : (eid.cb < kMaxEidBytes ? eid.cb : kMaxEidBytes);
    WriteHex(eid.lpb, count, text);
    text[2 * count] = L'\0';
}

} // namespace

CComBSTR HearthkitUtil::EidToBstr(const SBinary& eid) {
    wchar_t text[kEidTextChars];
    WriteEidText(eid, text, "HearthkitUtil::EidToBstr");
    return CComBSTR(text);
}

HRESULT HearthkitUtil::EidToWchar(const SBinary& eid, wchar_t** text) {
    if (text == nullptr) {
        CDesktopLog log("HearthkitUtil::EidToWchar");
        return HkNullArgument(log, "text");
    }
    wchar_t* buffer = new (std::nothrow) wchar_t[kEidTextChars];
    if (buffer == nullptr) {
        return E_OUTOFMEMORY;
    }
    WriteEidText(eid, buffer, "HearthkitUtil::EidToWchar");
    *text = buffer;
    return S_OK;
}

HRESULT HearthkitUtil::WcharToEid(wchar_t* text, BYTE* eid) {
    return WcharToEid(text, eid, SIZE_MAX, nullptr);
}

HRESULT HearthkitUtil::WcharToEid(const wchar_t* text, BYTE* eid, size_t capacity, size_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    if (text == nullptr || eid == nullptr) {
        CDesktopLog log("HearthkitUtil::WcharToEid");
        return HkNullArgument(log, "text or eid");
    }
    size_t count = 0;
    // A NUL is no digit, so a lone last digit stops the loop too.
    for (; count < capacity; ++count, text += 2) {
        BYTE high = HexValue(text[0]);
        if (high == kNotHex) {
            break;
        }
        BYTE low = HexValue(text[1]);
        if (low == kNotHex) {
            break;
        }
        eid[count] = static_cast<BYTE>(high << 4 | low);
    }
    if (written != nullptr) {
        *written = count;
    }
    return S_OK;
}

HRESULT HearthkitUtil::HexStrToWchar(const SBinary& bin, std::wstring& text, const int& limit) {
    const ULONGLONG needed = 2ull * bin.cb + 1;
    if (limit < 0 || static_cast<ULONGLONG>(limit) < needed || text.size() < needed - 1 ||
        (bin.lpb == nullptr && bin.cb != 0)) {
        CDesktopLog log("HearthkitUtil::HexStrToWchar");
        return HkNullArgument(log, "bin.lpb or text of the size limit gives");
    }
    // Writing the NUL at text.size() is allowed: it is the string's own
    // terminator slot.
    WriteHex(bin.lpb, bin.cb, &text[0]);
    text[2 * static_cast<size_t>(bin.cb)] = L'\0';
    return S_OK;
}

HRESULT HearthkitUtil::HexStrToBinary(const wchar_t* text, std::vector<BYTE>& bytes) {
    const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
    if (text == nullptr) {
        CDesktopLog log("HearthkitUtil::HexStrToBinary");
        return HkNullArgument(log, "text", invalid);
    }
    const size_t length = wcslen(text);
    if (length % 2 != 0) {
        return invalid;
    }
    try {
        bytes.assign(length / 2, 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (size_t i = 0; i < length / 2; ++i) {
        BYTE high = HexValue(text[2 * i]);
        BYTE low = HexValue(text[2 * i + 1]);
        if (high == kNotHex || low == kNotHex) {
            return invalid;
        }
        bytes[i] = static_cast<BYTE>(high << 4 | low);
    }
    return S_OK;
}
