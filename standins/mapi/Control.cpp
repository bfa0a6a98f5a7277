// The control surface: faults and counts per call name, live counters, the
// extended error of the last failure and the prefix registration.
#include "Standin.h"

#include <mutex>

namespace standin {
namespace {

struct Fault {
    HRESULT hr = S_OK;
    ULONG skip = 0; // calls that still go through before the fault
    ULONG times = 0;
    bool hasError = false;
    std::wstring error;
    std::wstring component;
    ULONG lowLevel = 0;
    ULONG context = 0;
};

struct LastError {
    HRESULT hr = S_OK;
    std::wstring error;
    std::wstring component;
    ULONG lowLevel = 0;
    ULONG context = 0;
};

std::mutex g_lock;
std::map<std::string, Fault> g_faults;
std::map<std::string, ULONG> g_counts;
std::map<std::string, std::vector<ULONG>> g_flags;
std::map<std::string, DWORD> g_delays;
LONG g_liveObjects = 0;
ULONG g_rowsSkip = 0;
ULONG g_rowsWithoutValues = 0;
ULONGLONG g_claimedStreamSize = 0;
thread_local LastError t_lastError;

} // namespace

HRESULT Hook(const char* callName) {
    DWORD delay = 0;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        ++g_counts[callName];
        auto slow = g_delays.find(callName);
        if (slow != g_delays.end()) {
            delay = slow->second;
            g_delays.erase(slow);
        }
        auto it = g_faults.find(callName);
        if (it != g_faults.end() && it->second.skip > 0) {
            --it->second.skip;
        } else if (it != g_faults.end() && it->second.times > 0) {
            Fault& f = it->second;
            --f.times;
            t_lastError = LastError{f.hr, f.error, f.component, f.lowLevel, f.context};
            if (!f.hasError)
                t_lastError.error.clear();
            hr = f.hr;
        }
    }
    // Outside the lock: other calls go on while this one is held up.
    if (delay)
        Sleep(delay);
    return hr;
}

HRESULT Hook(const char* callName, ULONG flags) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_flags[callName].push_back(flags);
    }
    return Hook(callName);
}

bool TakeRowsWithoutValues() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_rowsWithoutValues == 0)
        return false;
    if (g_rowsSkip > 0) {
        --g_rowsSkip;
        return false;
    }
    --g_rowsWithoutValues;
    return true;
}

ULONGLONG ClaimedStreamSize() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_claimedStreamSize;
}

void SetLastMapiError(HRESULT hr, const wchar_t* text, ULONG context) {
    t_lastError = LastError{hr, text ? text : L"", L"MapiStandin", 0, context};
}

// MAPIERROR in one buffer; the strings are wide under MAPI_UNICODE.
HRESULT GetLastMapiError(HRESULT hr, ULONG flags, LPMAPIERROR* out) {
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (FAILED(hr) && t_lastError.hr != hr)
        return S_OK; // nothing recorded for that failure
    MAPIERROR* e = nullptr;
    if (FAILED(AllocateBuffer(sizeof(MAPIERROR), reinterpret_cast<void**>(&e))))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    ZeroMemory(e, sizeof(*e));
    e->ulVersion = MAPI_ERROR_VERSION;
    e->ulLowLevelError = t_lastError.lowLevel;
    e->ulContext = t_lastError.context;
    auto copy = [&](const std::wstring& text) -> LPTSTR {
        if (text.empty())
            return nullptr;
        void* p = nullptr;
        if (flags & MAPI_UNICODE) {
            ULONG size = static_cast<ULONG>((text.size() + 1) * sizeof(wchar_t));
            if (FAILED(AllocateMore(size, e, &p)))
                return nullptr;
            memcpy(p, text.c_str(), size);
        } else {
            std::string narrow = Narrow(text.c_str());
            if (FAILED(AllocateMore(static_cast<ULONG>(narrow.size() + 1), e, &p)))
                return nullptr;
            memcpy(p, narrow.c_str(), narrow.size() + 1);
        }
        return static_cast<LPTSTR>(p);
    };
    e->lpszError = copy(t_lastError.error);
    e->lpszComponent = copy(t_lastError.component);
    *out = e;
    return S_OK;
}

ObjectBase::ObjectBase() {
    InterlockedIncrement(&g_liveObjects);
}
ObjectBase::~ObjectBase() {
    InterlockedDecrement(&g_liveObjects);
}
ULONG ObjectBase::DoAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}
ULONG ObjectBase::DoRelease() {
    LONG left = InterlockedDecrement(&m_refs);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

LONG LiveObjects() {
    return InterlockedCompareExchange(&g_liveObjects, 0, 0);
}

HMODULE Module() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&Module), &module);
    return module;
}

} // namespace standin

using namespace standin;

MAPISTANDIN_API void WINAPI MapiStandinFailCallAfter(const char* callName, ULONG skip, HRESULT hr,
                                                     ULONG times, const MapiStandinError* error) {
    if (!callName)
        return;
    std::lock_guard<std::mutex> lock(g_lock);
    if (times == 0) {
        g_faults.erase(callName);
        return;
    }
    Fault f;
    f.hr = hr;
    f.skip = skip;
    f.times = times;
    if (error) {
        f.hasError = true;
        f.error = error->error ? error->error : L"";
        f.component = error->component ? error->component : L"";
        f.lowLevel = error->lowLevelError;
        f.context = error->context;
    }
    g_faults[callName] = f;
}

MAPISTANDIN_API void WINAPI MapiStandinFailCall(const char* callName, HRESULT hr, ULONG times,
                                                const MapiStandinError* error) {
    MapiStandinFailCallAfter(callName, 0, hr, times, error);
}

MAPISTANDIN_API void WINAPI MapiStandinDelayCall(const char* callName, DWORD ms) {
    if (!callName)
        return;
    std::lock_guard<std::mutex> lock(g_lock);
    g_delays[callName] = ms;
}

MAPISTANDIN_API ULONG WINAPI MapiStandinCallFlags(const char* callName, ULONG index) {
    if (!callName)
        return kMapiStandinNoCall;
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_flags.find(callName);
    return it == g_flags.end() || index >= it->second.size() ? kMapiStandinNoCall : it->second[index];
}

MAPISTANDIN_API ULONG WINAPI MapiStandinLastFlags(const char* callName) {
    if (!callName)
        return kMapiStandinNoCall;
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_flags.find(callName);
    return it == g_flags.end() || it->second.empty() ? kMapiStandinNoCall : it->second.back();
}

MAPISTANDIN_API ULONG WINAPI MapiStandinCallCount(const char* callName) {
    if (!callName)
        return 0;
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_counts.find(callName);
    return it == g_counts.end() ? 0 : it->second;
}

MAPISTANDIN_API void WINAPI MapiStandinRowsWithoutValues(ULONG skip, ULONG times) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_rowsSkip = skip;
    g_rowsWithoutValues = times;
}

MAPISTANDIN_API void WINAPI MapiStandinClaimStreamSize(ULONGLONG bytes) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_claimedStreamSize = bytes;
}

MAPISTANDIN_API LONG WINAPI MapiStandinLiveObjects(void) {
    return LiveObjects();
}
MAPISTANDIN_API LONG WINAPI MapiStandinLiveBuffers(void) {
    return LiveBuffers();
}
MAPISTANDIN_API LONG WINAPI MapiStandinBadFrees(void) {
    return BadFrees();
}

MAPISTANDIN_API void WINAPI MapiStandinReset(void) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_faults.clear();
    g_counts.clear();
    g_rowsSkip = 0;
    g_rowsWithoutValues = 0;
    g_claimedStreamSize = 0;
    g_flags.clear();
    g_delays.clear();
    t_lastError = LastError{};
}

MAPISTANDIN_API HRESULT WINAPI MapiStandinRegister(const wchar_t* dllPath) {
    wchar_t own[MAX_PATH] = {};
    if (!dllPath) {
        if (!GetModuleFileNameW(Module(), own, MAX_PATH))
            return HRESULT_FROM_WIN32(GetLastError());
        dllPath = own;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Microsoft Outlook", 0, nullptr,
                              0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegSetValueExW(key, L"DLLPathEx", 0, REG_SZ, reinterpret_cast<const BYTE*>(dllPath),
                        static_cast<DWORD>((wcslen(dllPath) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(rc);
}
