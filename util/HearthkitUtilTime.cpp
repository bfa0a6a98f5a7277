// HearthkitUtil: FILETIME arithmetic and ISO 8601 text.
#include "HearthkitUtil.h"
#include "CDesktopLog.h"
#include "HkResult.h"

namespace {

const ULONGLONG k100NsPerMs = 10000;
const ULONGLONG k100NsPerMinute = 60000 * k100NsPerMs;

// Leading decimal digits of text[0 .. count), 0 when there are none.
WORD ReadField(const wchar_t* text, int count) {
    WORD value = 0;
    for (int i = 0; i < count && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = static_cast<WORD>(value * 10 + (text[i] - L'0'));
    }
    return value;
}

// The shape check and field reading of YYYY-MM-DDThh:mm:ss[Z]; the date
// itself is validated by SystemTimeToFileTime.
bool ParseIso8601(const wchar_t* text, SYSTEMTIME& st) {
    size_t length = wcsnlen(text, 21);
    if (length != 19 && !(length == 20 && text[19] == L'Z')) {
        return false;
    }
    if ((text[10] != L'T' && text[10] != L't') || text[13] != L':' || text[16] != L':') {
        return false;
    }
    st = SYSTEMTIME();
    st.wYear = ReadField(text, 4);
    st.wMonth = ReadField(text + 5, 2);
    st.wDay = ReadField(text + 8, 2);
    st.wHour = ReadField(text + 11, 2);
    st.wMinute = ReadField(text + 14, 2);
    st.wSecond = ReadField(text + 17, 2);
    return true;
}

} // namespace

__int64 HearthkitUtil::Now() {
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    FILETIME ft = {};
    ::SystemTimeToFileTime(&st, &ft);
    return FileTimeToInt64(ft);
}

DWORD HearthkitUtil::NS100ToMS(__int64 ns100) {
    return static_cast<DWORD>(ns100 / static_cast<__int64>(k100NsPerMs));
}

__int64 HearthkitUtil::MinsTo100NS(DWORD minutes) {
    return static_cast<__int64>(static_cast<ULONGLONG>(minutes) * k100NsPerMinute);
}

FILETIME HearthkitUtil::Int64ToFileTime(const __int64& value) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(value));
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(value) >> 32);
    return ft;
}

__int64 HearthkitUtil::FileTimeToInt64(const FILETIME& time) {
    return static_cast<__int64>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

HRESULT HearthkitUtil::ConvertISO8601ToFileTime(const wchar_t* text, FILETIME* time) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::ConvertISO8601ToFileTime", &hr);
    if (text == nullptr || time == nullptr) {
        return hr = HkNullArgument(log, "text or time");
    }
    SYSTEMTIME st;
    FILETIME ft;
    if (!ParseIso8601(text, st) || !::SystemTimeToFileTime(&st, &ft)) {
        hr = E_FAIL;
        log.LogText(LOG_DETAIL, "Not an ISO 8601 date and time: '%s'\n", text);
        return hr;
    }
    *time = ft;
    return hr;
}

HRESULT HearthkitUtil::ConvertFileTimeToISO8601(const FILETIME& time, BSTR* text, int useEnglishLocale) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::ConvertFileTimeToISO8601", &hr);
    if (text == nullptr) {
        return hr = HkNullArgument(log, "text");
    }
    SYSTEMTIME st;
    if ((time.dwLowDateTime == 0 && time.dwHighDateTime == 0) || !::FileTimeToSystemTime(&time, &st)) {
        return hr;
    }
    // The pictures pin the layout; the locale only chooses the calendar.
    LCID locale = useEnglishLocale != 0 ? 1033 : LOCALE_SYSTEM_DEFAULT;
    wchar_t date[16];
    wchar_t clock[16];
    if (::GetDateFormatW(locale, 0, &st, L"yyyy'-'MM'-'dd", date, 16) == 0) {
        wcscpy(date, L"1900-00-01");
    }
    if (::GetTimeFormatW(locale, TIME_FORCE24HOURFORMAT, &st, L"'T'hh':'mm':'ss", clock, 16) == 0) {
        wcscpy(clock, L"T00:00:00");
    }
    wchar_t result[32];
    _snwprintf(result, 32, L"%s%s", date, clock);
    result[31] = L'\0';
    BSTR out = ::SysAllocString(result);
    if (out == nullptr) {
        hr = E_OUTOFMEMORY;
        return hr;
    }
    *text = out;
    return hr;
}
