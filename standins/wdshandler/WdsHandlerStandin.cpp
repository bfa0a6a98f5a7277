// The Hoardlocal protocol handler's stand-in: an in-process COM server of the
// handler's class offering its index control interface. It indexes nothing;
// it records each call and does what its control values say (README.md).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <atomic>
#include <new>
#include <string>

// windows.h maps DeleteFile to DeleteFileW; here it is a method's name.
#undef DeleteFile

namespace wdsstandin {

// The handler's published class and index control interface: six methods in
// this slot order after IUnknown's, the per-file ones taking the database
// file's full path.
const CLSID kClassId = {0x5896A718, 0x788B, 0x47C0, {0x96, 0x5A, 0x7B, 0x12, 0x4E, 0x09, 0x1A, 0xB6}};
const IID kIndexControlId = {0x973CC288, 0xFC64, 0x4E34, {0x88, 0x38, 0xB0, 0x5B, 0x8B, 0xB0, 0x50, 0xEF}};

struct IIndexControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DeleteFile(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddFile(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReIndexFile(BSTR path) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAll() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddAll() = 0;
    virtual HRESULT STDMETHODCALLTYPE ReIndexAll() = 0;
};

const wchar_t kControlKey[] = L"Software\\Hearthkit\\Standins\\WdsHandler";
const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{5896A718-788B-47C0-965A-7B124E091AB6}";
const wchar_t kHeldEvent[] = L"HkWdsHandlerStandin.Held";
const wchar_t kReleaseEvent[] = L"HkWdsHandlerStandin.Release";
const DWORD kHoldLimitMs = 30000;

HMODULE g_module = nullptr;
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_locks{0};

// A registry key closed at scope end.
struct Key {
    HKEY h = nullptr;
    ~Key() {
        if (h != nullptr) {
            ::RegCloseKey(h);
        }
    }
};

std::wstring ReadString(HKEY key, const wchar_t* name) {
    wchar_t buffer[1024];
    DWORD type = 0, size = sizeof(buffer) - sizeof(wchar_t);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::wstring();
    }
    buffer[size / sizeof(wchar_t)] = L'\0';
    return buffer;
}

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD type = 0, value = 0, size = sizeof(value);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return fallback;
    }
    return value;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                          nullptr);
    return out;
}

// Appends one line to the call log; several processes may append at once,
// so each line is one write to a file opened for appending.
void Record(const std::wstring& logPath, const std::wstring& line) {
    HANDLE file = ::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string bytes = Utf8(line) + "\r\n";
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

// Signals that a call of the held method has arrived and waits (bounded) for
// the test to let it go.
void Hold() {
    HANDLE held = ::CreateEventW(nullptr, TRUE, FALSE, kHeldEvent);
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, kReleaseEvent);
    if (held != nullptr && release != nullptr) {
        ::SetEvent(held);
        ::WaitForSingleObject(release, kHoldLimitMs);
    }
    if (held != nullptr) {
        ::CloseHandle(held);
    }
    if (release != nullptr) {
        ::CloseHandle(release);
    }
}

// One call: recorded, held or failed as the control values say.
HRESULT Perform(const wchar_t* method, BSTR path, bool takesPath) {
    std::wstring line(method);
    if (takesPath) {
        line += L' ';
        line += path != nullptr ? std::wstring(path, ::SysStringLen(path)) : std::wstring(L"(null)");
    }
    Key control;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kControlKey, 0, KEY_READ, &control.h) != ERROR_SUCCESS) {
        return S_OK;
    }
    std::wstring logPath = ReadString(control.h, L"CallLog");
    if (!logPath.empty()) {
        Record(logPath, line);
    }
    if (ReadString(control.h, L"HoldMethod") == method) {
        Hold();
    }
    if (ReadString(control.h, L"FailMethod") == method) {
        return static_cast<HRESULT>(ReadDword(control.h, L"FailHr", static_cast<DWORD>(E_FAIL)));
    }
    return S_OK;
}

class IndexControl : public IIndexControl {
public:
    IndexControl() { ++g_liveObjects; }
    virtual ~IndexControl() { --g_liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIndexControlId)) {
            *out = static_cast<IIndexControl*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        long left = --m_refs;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE DeleteFile(BSTR path) override { return Perform(L"DeleteFile", path, true); }
    HRESULT STDMETHODCALLTYPE AddFile(BSTR path) override { return Perform(L"AddFile", path, true); }
    HRESULT STDMETHODCALLTYPE ReIndexFile(BSTR path) override { return Perform(L"ReIndexFile", path, true); }
    HRESULT STDMETHODCALLTYPE DeleteAll() override { return Perform(L"DeleteAll", nullptr, false); }
    HRESULT STDMETHODCALLTYPE AddAll() override { return Perform(L"AddAll", nullptr, false); }
    HRESULT STDMETHODCALLTYPE ReIndexAll() override { return Perform(L"ReIndexAll", nullptr, false); }

private:
    std::atomic<long> m_refs{1};
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: it lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        IndexControl* object = new (std::nothrow) IndexControl();
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }
};

Factory g_factory;

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

} // namespace wdsstandin

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wdsstandin::g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!IsEqualCLSID(clsid, wdsstandin::kClassId)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return wdsstandin::g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return wdsstandin::g_liveObjects == 0 && wdsstandin::g_locks == 0 ? S_OK : S_FALSE;
}

// Registers the class under HKLM "Software\Classes\CLSID" (what HKCR shows)
// with this module as its in-process server.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(wdsstandin::g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return E_FAIL;
    }
    std::wstring serverKey = std::wstring(wdsstandin::kClassKey) + L"\\InprocServer32";
    wdsstandin::Key key;
    LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key.h, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = wdsstandin::SetString(key.h, nullptr, path);
    }
    if (rc == ERROR_SUCCESS) {
        rc = wdsstandin::SetString(key.h, L"ThreadingModel", L"Both");
    }
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    LONG rc = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, wdsstandin::kClassKey);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}
