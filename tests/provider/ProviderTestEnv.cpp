#include "ProviderTestEnv.h"

#include <gtest/gtest.h>
#include <set>

namespace providertest {

const wchar_t kProfilesRoot[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const wchar_t kServicesSection[] = L"9207f3e0a3b11019908b08002b2a56c2";

namespace {

void Dump(HKEY parent, const std::wstring& path, const std::wstring& relative, std::set<std::string>& lines) {
    CRegKey key;
    if (key.Open(parent, path.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return;
    }
    lines.insert(hk::test::Narrow(relative) + "|");
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256, type = 0, size = 0;
        if (::RegEnumValueW(key, i, name, &chars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            break;
        }
        std::vector<BYTE> data(size);
        chars = 256;
        ::RegEnumValueW(key, i, name, &chars, nullptr, &type, data.data(), &size);
        data.resize(size);
        lines.insert(hk::test::Narrow(relative) + "|" + hk::test::Narrow(name) + "|" + std::to_string(type) +
                     "|" + hk::test::Narrow(Hex(data)));
    }
    std::vector<std::wstring> children;
    key.EnumKeys(children);
    for (const std::wstring& child : children) {
        Dump(key, child, relative + L"\\" + child, lines);
    }
}

} // namespace

std::string DumpTree(HKEY root, const std::wstring& path) {
    std::set<std::string> lines;
    Dump(root, path, L"", lines);
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

bool KeyExists(const std::wstring& path) {
    CRegKey key;
    return key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

std::vector<BYTE> WideBytes(const std::wstring& text) {
    const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> UidBytes(BYTE seed) {
    std::vector<BYTE> uid(16);
    for (size_t i = 0; i < uid.size(); ++i) {
        uid[i] = static_cast<BYTE>(seed + 0x11 * i);
    }
    return uid;
}

std::wstring Hex(const std::vector<BYTE>& bytes, bool upper) {
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring text;
    for (BYTE b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

void SetBinary(const std::wstring& path, const wchar_t* name, const std::vector<BYTE>& bytes) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, key.SetBinaryValue(name, bytes.data(), static_cast<ULONG>(bytes.size())));
}

std::vector<BYTE> GetBinary(const std::wstring& path, const wchar_t* name) {
    CRegKey key;
    std::vector<BYTE> data;
    if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) == ERROR_SUCCESS) {
        key.QueryBinaryValue(name, data);
    }
    return data;
}

} // namespace providertest
