// Outlook host helpers: the main window, the synchroniser's window, Outlook's
// version and small registry reads and writes.
#include "HearthkitUtil.h"
#include "CDesktopLog.h"
#include "HkRegKey.h"
#include "HkResult.h"

#include <cstdlib>
#include <cwchar>
#include <memory>

HWND HearthkitUtil::m_hwndOutlookWindow = nullptr;
CHkCriticalSection HearthkitUtil::m_critSectOutlookWindow;
HWND HearthkitUtil::m_hwndHCSync = nullptr;

namespace {

const wchar_t kOutlookTitle[] = L"Microsoft Outlook";
const wchar_t kOutlookClass[] = L"rctrl_renwnd32";

// EnumWindows callback: stops at the first window that looks like Outlook's
// main window and stores it.
BOOL CALLBACK FindOutlookWindow(HWND hwnd, LPARAM) {
    try {
        int length = ::GetWindowTextLengthW(hwnd);
        if (length <= 0) {
            return TRUE;
        }
        std::unique_ptr<wchar_t[]> title(new (std::nothrow) wchar_t[static_cast<size_t>(length) + 1]);
        if (!title) {
            return FALSE;
        }
        ::GetWindowTextW(hwnd, title.get(), length + 1);
        const wchar_t* at = std::wcsstr(title.get(), kOutlookTitle);
        if (at == nullptr || at == title.get()) {
            return TRUE;
        }
        wchar_t className[257] = {};
        ::GetClassNameW(hwnd, className, 256);
        if (std::wcscmp(className, kOutlookClass) != 0) {
            return TRUE;
        }
        HearthkitUtil::m_hwndOutlookWindow = hwnd;
        return FALSE;
    } catch (...) {
        return FALSE;
    }
}

} // namespace

HWND HearthkitUtil::GetOutlookWindowHandle() {
    CDesktopLog log("HearthkitUtil::GetOutlookWindowHandle");
    CHkCritSecLock lock(m_critSectOutlookWindow);
    try {
        if (m_hwndOutlookWindow != nullptr && !::IsWindow(m_hwndOutlookWindow)) {
            m_hwndOutlookWindow = nullptr;
        }
        if (m_hwndOutlookWindow == nullptr) {
            ::EnumWindows(FindOutlookWindow, 0);
        }
    } catch (...) {
        // The cached value is answered all the same.
    }
    return m_hwndOutlookWindow;
}

HWND HearthkitUtil::GetHCSyncWindowHandle() {
    return m_hwndHCSync;
}

void HearthkitUtil::SetHCSyncWindowHandle(HWND hwnd) {
    m_hwndHCSync = hwnd;
}

HWND HearthkitUtil::GetHCLoginWindowHandle() {
    if (m_hwndHCSync == nullptr) {
        return GetOutlookWindowHandle();
    }
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (::GetWindowPlacement(m_hwndHCSync, &placement) && placement.showCmd == SW_SHOWMINIMIZED) {
        ::ShowWindow(m_hwndHCSync, SW_RESTORE);
    }
    return m_hwndHCSync;
}

int HearthkitUtil::GetOutlookMajorVersion() {
    static int s_nMajorVersion = 0;
    if (s_nMajorVersion > 0) {
        return s_nMajorVersion;
    }
    std::unique_ptr<wchar_t[]> curVer(
        GetRegValue(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", nullptr));
    if (!curVer) {
        return 0;
    }
    const wchar_t* dot = std::wcsrchr(curVer.get(), L'.');
    s_nMajorVersion = dot ? _wtoi(dot + 1) : 0;
    return s_nMajorVersion;
}

namespace {

// A null key path would reach the root key itself (HKEY_CURRENT_USER's own
// values): such a call is refused and logged. A null name is the key's
// default value, as in the registry's own calls.
bool NamesKey(const char* scope, const wchar_t* subKey) {
    if (subKey != nullptr) {
        return true;
    }
    CDesktopLog log(scope);
    HkNullArgument(log, "subKey");
    return false;
}

} // namespace

void HearthkitUtil::SetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD value) {
    if (!NamesKey("HearthkitUtil::SetRegValue", subKey)) {
        return;
    }
    CRegKey key;
    if (key.Create(root, subKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        key.SetDWORDValue(name, value);
    }
}

wchar_t* HearthkitUtil::GetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name) {
    if (!NamesKey("HearthkitUtil::GetRegValue", subKey)) {
        return nullptr;
    }
    const DWORD kChars = 256;
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kChars]);
    if (!buffer) {
        return nullptr;
    }
    CRegKey key;
    if (key.Open(root, subKey, KEY_READ) != ERROR_SUCCESS) {
        return nullptr;
    }
    // 256 bytes: at most 127 characters and the terminator.
    DWORD type = 0, bytes = 256;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.get()), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return nullptr;
    }
    // A value stored without its terminator still ends inside the buffer.
    buffer[bytes / sizeof(wchar_t) < kChars ? bytes / sizeof(wchar_t) : kChars - 1] = L'\0';
    return buffer.release();
}

DWORD HearthkitUtil::GetRegValue(HKEY root, const wchar_t* subKey, const wchar_t* name, DWORD defaultValue) {
    DWORD result = defaultValue;
    CRegKey key;
    if (!NamesKey("HearthkitUtil::GetRegValue", subKey) ||
        key.Open(root, subKey, KEY_READ) != ERROR_SUCCESS) {
        return result;
    }
    DWORD value = 0, type = 0, bytes = sizeof(value);
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) ==
            ERROR_SUCCESS &&
        bytes == sizeof(value)) {
        result = value;
    }
    return result;
}
