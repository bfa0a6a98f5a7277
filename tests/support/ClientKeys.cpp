#include "ClientKeys.h"

#include "Hearthkit.h"

#include <gtest/gtest.h>
#include <cwchar>

namespace hk {
namespace test {

const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
const wchar_t kStoreKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client\\TESTSTORE";

ClientKeys::ClientKeys() : m_user(HKEY_CURRENT_USER, kClientKey), m_machine(HKEY_LOCAL_MACHINE, kClientKey) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        CRegKey parent;
        if (parent.Open(root, L"SOFTWARE\\Talvo\\Stowhaven") == ERROR_SUCCESS) {
            parent.RecurseDeleteKey(L"Client");
        }
    }
    CRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kStoreKey));
}

ClientKeys::~ClientKeys() {
    UseStoreKey(false);
}

void ClientKeys::SetDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root, path));
    EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(name, value));
}

void ClientKeys::SetString(HKEY root, const wchar_t* path, const wchar_t* name, const wchar_t* value,
                           DWORD type) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(root, path));
    EXPECT_EQ(ERROR_SUCCESS, key.SetStringValue(name, value, type));
}

void UseStoreKey(bool present) {
    delete[] HearthkitConfig::m_szStoreRootKey;
    HearthkitConfig::m_szStoreRootKey = nullptr;
    HearthkitConfig::m_StoreKey = L"";
    if (present) {
        size_t chars = std::wcslen(kStoreKey) + 1;
        HearthkitConfig::m_szStoreRootKey = new wchar_t[chars];
        std::wcscpy(HearthkitConfig::m_szStoreRootKey, kStoreKey);
        HearthkitConfig::m_StoreKey = L"TESTSTORE";
    }
}

std::string Record(const std::string& text) {
    return ": " + text + "\r\n";
}

} // namespace test
} // namespace hk
