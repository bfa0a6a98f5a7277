// CRegKey: an owning holder of an open registry key with the operations the
// library needs, shaped like ATL's. Every call returns the Win32 error code
// (LONG); nothing throws.
#pragma once

#include <windows.h>
#include <string>
#include <utility>
#include <vector>

class CRegKey {
public:
    CRegKey() noexcept = default;
    explicit CRegKey(HKEY key) noexcept : m_hKey(key) {}
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    CRegKey(CRegKey&& other) noexcept : m_hKey(std::exchange(other.m_hKey, nullptr)) {}
    CRegKey& operator=(CRegKey&& other) noexcept {
        if (this != &other) {
            Attach(std::exchange(other.m_hKey, nullptr));
        }
        return *this;
    }
    ~CRegKey() { Close(); }

    operator HKEY() const noexcept { return m_hKey; }
    HKEY m_hKey = nullptr;

    LONG Open(HKEY parent, const wchar_t* subKey, REGSAM access = KEY_READ | KEY_WRITE) noexcept {
        HKEY key = nullptr;
        LONG rc = ::RegOpenKeyExW(parent, subKey, 0, access, &key);
        if (rc == ERROR_SUCCESS) {
            Attach(key);
        }
        return rc;
    }
    LONG Create(HKEY parent, const wchar_t* subKey, REGSAM access = KEY_READ | KEY_WRITE,
                DWORD* disposition = nullptr) noexcept {
        HKEY key = nullptr;
        LONG rc = ::RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                    &key, disposition);
        if (rc == ERROR_SUCCESS) {
            Attach(key);
        }
        return rc;
    }
    LONG Close() noexcept {
        LONG rc = ERROR_SUCCESS;
        if (m_hKey != nullptr) {
            rc = ::RegCloseKey(m_hKey);
            m_hKey = nullptr;
        }
        return rc;
    }
    void Attach(HKEY key) noexcept {
        if (key != m_hKey) {
            Close();
            m_hKey = key;
        }
    }
    HKEY Detach() noexcept { return std::exchange(m_hKey, nullptr); }

    // A value of another type than REG_DWORD answers ERROR_INVALID_DATA.
    LONG QueryDWORDValue(const wchar_t* name, DWORD& value) const noexcept {
        DWORD type = 0, data = 0, size = 0;
        LONG rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (type != REG_DWORD || size != sizeof(DWORD)) {
            return ERROR_INVALID_DATA;
        }
        rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (type != REG_DWORD || size != sizeof(DWORD)) {
            return ERROR_INVALID_DATA;
        }
        value = data;
        return ERROR_SUCCESS;
    }
    // ATL's contract: chars holds the buffer size in characters on entry and
    // the characters copied, terminator included, on return. A value of
    // another type than REG_SZ or REG_EXPAND_SZ answers ERROR_INVALID_DATA.
    LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, ULONG* chars) const noexcept {
        if (chars == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        DWORD type = 0, size = static_cast<DWORD>(*chars * sizeof(wchar_t));
        LONG rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
            return ERROR_INVALID_DATA;
        }
        if (rc == ERROR_SUCCESS && buffer != nullptr) {
            ULONG got = size / sizeof(wchar_t);
            if (got == 0 || buffer[got - 1] != L'\0') {
                if (got >= *chars) {
                    *chars = got + 1;
                    return ERROR_MORE_DATA;
                }
                buffer[got++] = L'\0';
            }
            *chars = got;
            return rc;
        }
        *chars = size / sizeof(wchar_t) + 1;
        return rc;
    }
    // Reads a whole string value of any length.
    LONG QueryStringValue(const wchar_t* name, std::wstring& value) const {
        DWORD type = 0, size = 0;
        LONG rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            return ERROR_INVALID_DATA;
        }
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        data.resize(size / sizeof(wchar_t));
        while (!data.empty() && data.back() == L'\0') {
            data.pop_back();
        }
        value.swap(data);
        return ERROR_SUCCESS;
    }
    LONG QueryBinaryValue(const wchar_t* name, std::vector<BYTE>& value) const {
        DWORD type = 0, size = 0;
        LONG rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (type != REG_BINARY) {
            return ERROR_INVALID_DATA;
        }
        std::vector<BYTE> data(size);
        rc = ::RegQueryValueExW(m_hKey, name, nullptr, &type, data.data(), &size);
        if (rc == ERROR_SUCCESS) {
            data.resize(size);
            value.swap(data);
        }
        return rc;
    }

    LONG SetDWORDValue(const wchar_t* name, DWORD value) noexcept {
        return ::RegSetValueExW(m_hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof(value));
    }
    LONG SetStringValue(const wchar_t* name, const wchar_t* value, DWORD type = REG_SZ) noexcept {
        if (value == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        DWORD size = static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(m_hKey, name, 0, type, reinterpret_cast<const BYTE*>(value), size);
    }
    LONG SetBinaryValue(const wchar_t* name, const void* data, ULONG bytes) noexcept {
        return ::RegSetValueExW(m_hKey, name, 0, REG_BINARY, static_cast<const BYTE*>(data), bytes);
    }
    LONG DeleteValue(const wchar_t* name) noexcept { return ::RegDeleteValueW(m_hKey, name); }
    // Deletes a sub key that has no sub keys of its own.
    LONG DeleteSubKey(const wchar_t* subKey) noexcept { return ::RegDeleteKeyW(m_hKey, subKey); }
    // Deletes a sub key with everything below it.
    LONG RecurseDeleteKey(const wchar_t* subKey) noexcept {
        CRegKey child;
        LONG rc = child.Open(m_hKey, subKey, KEY_READ | KEY_WRITE);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        wchar_t name[256];
        for (;;) {
            DWORD chars = 256;
            rc = ::RegEnumKeyExW(child, 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
            rc = child.RecurseDeleteKey(name);
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
        }
        child.Close();
        return DeleteSubKey(subKey);
    }
    // ATL's contract: chars is the buffer size on entry, the name's length on return.
    LONG EnumKey(DWORD index, wchar_t* name, DWORD* chars) const noexcept {
        return ::RegEnumKeyExW(m_hKey, index, name, chars, nullptr, nullptr, nullptr, nullptr);
    }
    // All sub key names, in the order the registry gives them.
    LONG EnumKeys(std::vector<std::wstring>& names) const {
        names.clear();
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD chars = 256;
            LONG rc = EnumKey(i, name, &chars);
            if (rc == ERROR_NO_MORE_ITEMS) {
                return ERROR_SUCCESS;
            }
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
            names.emplace_back(name, chars);
        }
    }
};
