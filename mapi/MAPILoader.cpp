// Finding the host's MAPI module and binding the 36 MAPI functions, once,
// while Hearthkit.dll loads. Nothing here writes to the diagnostic log: the
// outcome is kept in lastError, and callers learn of a missing MAPI from the
// forwarding functions' fallbacks.
#include "MAPILoader.h"

#include "HkHandle.h"
#include "HkRegKey.h"
#include "mapi/MAPIFunctions.h"

#include <string>

namespace {

const wchar_t kOutlookKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";

// mapi32.dll / mapistub.dll: asks Windows Installer for the path of a
// component (Outlook's MAPI), with a qualifier choosing among its variants.
using FGetComponentPathFn = BOOL(WINAPI*)(LPSTR szComponent, LPSTR szQualifier, LPSTR szDllPath,
                                          DWORD cchBufferSize, BOOL fInstall);
const DWORD kComponentPathChars = MAX_PATH + 1;

// The value's bytes as stored, whatever its type: the A form of the query
// hands a string over as 8-bit text with its terminating zero. A missing
// value and a value without bytes both answer empty.
std::string ReadRawValue(HKEY key, const char* name) {
    std::string bytes;
    DWORD size = 0;
    LONG rc = ::RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size);
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        bytes.resize(size);
        if (size == 0) {
            break;
        }
        rc = ::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&bytes[0]), &size);
        if (rc == ERROR_SUCCESS) {
            bytes.resize(size);
            return bytes;
        }
    }
    return std::string();
}

// 8-bit text up to its first zero, converted with the thread's ANSI code page.
std::wstring ToWide(const std::string& text) {
    int chars = static_cast<int>(strnlen(text.c_str(), text.size()));
    if (chars == 0) {
        return std::wstring();
    }
    int wide = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), chars, nullptr, 0);
    std::wstring out(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), chars, &out[0], wide);
    return out;
}

// Loads name from the system directory by its full path.
hk::unique_hmodule LoadSystemModule(const wchar_t* name) {
    wchar_t dir[MAX_PATH + 1] = {};
    UINT chars = ::GetSystemDirectoryW(dir, MAX_PATH + 1);
    if (chars == 0 || chars > MAX_PATH) {
        return hk::unique_hmodule();
    }
    std::wstring path = std::wstring(dir, chars) + L"\\" + name;
    return hk::unique_hmodule(::LoadLibraryW(path.c_str()));
}

// One FGetComponentPath request: the path only on a return of exactly TRUE
// (1); TRUE with an empty text gives no path either.
std::string AskComponentPath(FGetComponentPathFn getPath, const std::string& component,
                             const std::string* qualifier) {
    char path[kComponentPathChars] = {};
    std::string componentArg(component), qualifierArg(qualifier ? *qualifier : std::string());
    BOOL rc =
        getPath(&componentArg[0], qualifier ? &qualifierArg[0] : nullptr, path, kComponentPathChars, FALSE);
    path[kComponentPathChars - 1] = '\0';
    return rc == 1 ? std::string(path) : std::string();
}

// The path Windows Installer knows for Outlook's MAPI component: asked with
// the application's qualifier, then Office's, then none; empty when the
// stub (mapi32.dll, else mapistub.dll) or its FGetComponentPath is missing.
std::wstring ComponentPath(HKEY key, const std::string& component) {
    hk::unique_hmodule stub = LoadSystemModule(L"mapi32.dll");
    if (!stub) {
        stub = LoadSystemModule(L"mapistub.dll");
    }
    if (!stub) {
        return std::wstring();
    }
    auto getPath = reinterpret_cast<FGetComponentPathFn>(
        reinterpret_cast<hk::mapi::Proc>(::GetProcAddress(stub.get(), "FGetComponentPath")));
    if (getPath == nullptr) {
        return std::wstring();
    }
    std::string path;
    for (const char* qualifierName : {"MSIApplicationLCID", "MSIOfficeLCID"}) {
        std::string qualifier = ReadRawValue(key, qualifierName);
        if (!qualifier.empty()) {
            path = AskComponentPath(getPath, component, &qualifier);
            if (!path.empty()) {
                break;
            }
        }
    }
    if (path.empty()) {
        path = AskComponentPath(getPath, component, nullptr);
    }
    return ToWide(path);
}

// Where Outlook's installation says its MAPI DLL is; may be empty.
std::wstring RegisteredMAPIPath() {
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kOutlookKey, KEY_READ | KEY_WOW64_64KEY) != ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring path;
    std::string component = ReadRawValue(key, "MSIComponentID");
    if (!component.empty()) {
        path = ComponentPath(key, component);
    }
    if (path.empty()) {
        path = ToWide(ReadRawValue(key, "DLLPathEx"));
    }
    return path;
}

// Outlook's own MAPI when it is already in the process (no reference taken),
// otherwise the registered MAPI DLL, loaded for the life of the process.
// On failure, lastError holds the system's last-error code of that moment.
HMODULE FindMAPIModule(DWORD& lastError) {
    HMODULE module = ::GetModuleHandleW(L"olmapi32.dll");
    if (module != nullptr) {
        return module;
    }
    std::wstring path = RegisteredMAPIPath();
    if (!path.empty()) {
        module = ::LoadLibraryW(path.c_str());
    }
    lastError = ::GetLastError();
    return module;
}

} // namespace

const MAPILoader& MAPILoader::Instance() noexcept {
    return s_instance;
}

bool MAPILoader::IsLoaded() const noexcept {
    return loaded;
}

const char* MAPILoader::LastError() const noexcept {
    return lastError.c_str();
}

const char* MAPILoader::FunctionName(ULONG index) noexcept {
    return index < FunctionCount ? hk::mapi::functionNames[index] : nullptr;
}

bool MAPILoader::IsBound(ULONG index) noexcept {
    return index < FunctionCount && hk::mapi::slots[index];
}

MAPILoader::MAPILoader() noexcept : loaded(false) {
    Load();
}

void MAPILoader::Load() noexcept {
    CHkCritSecLock hold(lock);
    if (loaded) {
        return;
    }
    try {
        DWORD error = 0;
        HMODULE module = FindMAPIModule(error);
        if (module == nullptr) {
            lastError = "Unable to acquire MAPI Handle - '" + std::to_string(error) + "'";
            return;
        }
        for (ULONG i = 0; i < FunctionCount; ++i) {
            if (hk::mapi::slots[i] != nullptr) {
                continue;
            }
            hk::mapi::slots[i] =
                reinterpret_cast<hk::mapi::Proc>(::GetProcAddress(module, hk::mapi::functionNames[i]));
            if (hk::mapi::slots[i] == nullptr) {
                lastError = std::string("MAPI function '") + hk::mapi::functionNames[i] + "' not located\n";
                Reset();
                return;
            }
        }
        loaded = true;
    } catch (...) {
        // Out of memory while the library loads: MAPI stays unbound.
        Reset();
    }
}

void MAPILoader::Reset() noexcept {
    CHkCritSecLock hold(lock);
    for (auto& slot : hk::mapi::slots) {
        slot = nullptr;
    }
    loaded = false;
}
