// Registry values of the configuration: reads with defaults and wrong types,
// writes that never create a key, deletion by an empty string, the store
// key, and the exact log lines.
#include "ClientKeys.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <cstdio>

using namespace hk::test;

namespace {

bool ValueExists(const wchar_t* path, const wchar_t* name, DWORD* type = nullptr) {
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, path, KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    DWORD t = 0;
    bool exists = ::RegQueryValueExW(key, name, nullptr, &t, nullptr, nullptr) == ERROR_SUCCESS;
    if (type != nullptr) {
        *type = t;
    }
    return exists;
}

} // namespace

TEST(ConfigRegistryRead, NumbersComeFromTheChosenKeyOrTheDefault) {
    ClientKeys keys;
    UseStoreKey(true);
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Num", 7);
    keys.SetDword(HKEY_CURRENT_USER, kStoreKey, L"Num", 9);
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Text", L"12");

    DWORD value = kUnset;
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Num", &value, 5, CONFIG_VALUE_CLIENT));
    EXPECT_EQ(7u, value);
    value = kUnset;
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"num", &value, 5, CONFIG_VALUE_STORE));
    EXPECT_EQ(9u, value);
    // Any type other than the store's reads the client root.
    value = kUnset;
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Num", &value, 5, static_cast<ConfigValueType>(3)));
    EXPECT_EQ(7u, value);
    // Missing, and present with the wrong type: the default.
    for (const wchar_t* name : {L"Missing", L"Text"}) {
        value = kUnset;
        EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(name, &value, 5));
        EXPECT_EQ(5u, value);
    }
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(L"Num", nullptr, 5));
    value = kUnset;
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(nullptr, &value, 5));
    EXPECT_EQ(5u, value);
}

TEST(ConfigRegistryRead, StringsTakeBothStringTypesUnexpanded) {
    ClientKeys keys;
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Plain", L"text");
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Expand", L"%TEMP%\\x", REG_EXPAND_SZ);
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Empty", L"");
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Number", 3);

    CStringW value = L"stale";
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Plain", value, L"dflt"));
    EXPECT_STREQ(L"text", value);
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Expand", value, L"dflt"));
    EXPECT_STREQ(L"%TEMP%\\x", value);
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Empty", value, L"dflt"));
    EXPECT_STREQ(L"", value);
    for (const wchar_t* name : {L"Number", L"Missing"}) {
        value = L"stale";
        EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(name, value, L"dflt"));
        EXPECT_STREQ(L"dflt", value);
    }
    value = L"stale";
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Missing", value, nullptr));
    EXPECT_STREQ(L"", value);
}

TEST(ConfigRegistryRead, AStoreKeyThatCannotBeDerivedGivesTheDefaultAndTheFailure) {
    ClientKeys keys;
    UseStoreKey(false);
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Num", 7);
    DWORD value = kUnset;
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(L"Num", &value, 5, CONFIG_VALUE_STORE));
    EXPECT_EQ(5u, value);
    CStringW text = L"stale";
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(L"Num", text, L"dflt", CONFIG_VALUE_STORE));
    EXPECT_STREQ(L"dflt", text);
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(L"Num", DWORD(1), CONFIG_VALUE_STORE));
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(L"Num", L"x", CONFIG_VALUE_STORE));

    wchar_t* path = reinterpret_cast<wchar_t*>(0xdeadbeef);
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetClientStoreKey(nullptr));
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetClientStoreKey(&path));
    EXPECT_EQ(nullptr, HearthkitConfig::m_szStoreRootKey);
    try {
        HearthkitConfig::GetStoreKey();
        ADD_FAILURE() << "GetStoreKey did not raise";
    } catch (const _com_error& e) {
        EXPECT_EQ(E_INVALIDARG, e.Error());
    }
}

TEST(ConfigRegistryWrite, WritesReplaceAndAnEmptyStringDeletes) {
    ClientKeys keys;
    UseStoreKey(true);
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L"one"));
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L"two"));
    CStringW text;
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Text", text, L"dflt"));
    EXPECT_STREQ(L"two", text);
    DWORD type = 0;
    EXPECT_TRUE(ValueExists(kClientKey, L"Text", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L""));
    EXPECT_FALSE(ValueExists(kClientKey, L"Text"));
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L"")); // already gone
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", static_cast<const wchar_t*>(nullptr)));

    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Num", DWORD(42), CONFIG_VALUE_STORE));
    DWORD value = kUnset;
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Num", &value, 5, CONFIG_VALUE_STORE));
    EXPECT_EQ(42u, value);
    EXPECT_FALSE(ValueExists(kClientKey, L"Num"));
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(nullptr, L"x"));
}

TEST(ConfigRegistryWrite, AMissingKeyIsNeverCreated) {
    ClientKeys keys;
    UseStoreKey(true);
    CRegKey client;
    ASSERT_EQ(ERROR_SUCCESS, client.Open(HKEY_CURRENT_USER, kClientKey));
    ASSERT_EQ(ERROR_SUCCESS, client.RecurseDeleteKey(L"TESTSTORE"));

    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L"x", CONFIG_VALUE_STORE));
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Num", DWORD(1), CONFIG_VALUE_STORE));
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L"", CONFIG_VALUE_STORE));
    HearthkitConfig::SetHoardviewConfiguredProfiles(L"Outlook");
    EXPECT_NE(ERROR_SUCCESS, client.Open(HKEY_CURRENT_USER, kStoreKey, KEY_READ));
    DWORD value = kUnset;
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Num", &value, 5, CONFIG_VALUE_STORE));
    EXPECT_EQ(5u, value);
}

TEST(ConfigRegistryWrite, HoardviewProfilesLiveUnderTheStoreKey) {
    ClientKeys keys;
    UseStoreKey(true);
    CStringW profiles = L"stale";
    HearthkitConfig::GetHoardviewConfiguredProfiles(profiles);
    EXPECT_STREQ(L"", profiles);
    HearthkitConfig::SetHoardviewConfiguredProfiles(L"Outlook;Second");
    EXPECT_TRUE(ValueExists(kStoreKey, L"HoardviewConfiguredProfiles"));
    EXPECT_FALSE(ValueExists(kClientKey, L"HoardviewConfiguredProfiles"));
    HearthkitConfig::GetHoardviewConfiguredProfiles(profiles);
    EXPECT_STREQ(L"Outlook;Second", profiles);
    HearthkitConfig::SetHoardviewConfiguredProfiles(L"");
    EXPECT_FALSE(ValueExists(kStoreKey, L"HoardviewConfiguredProfiles"));
}

TEST(ConfigRegistryWrite, CloseDownFreesThePathAndKeepsTheName) {
    ClientKeys keys;
    UseStoreKey(true);
    HearthkitConfig::CloseDown();
    EXPECT_EQ(nullptr, HearthkitConfig::m_szStoreRootKey);
    EXPECT_STREQ(L"TESTSTORE", HearthkitConfig::m_StoreKey);
    HearthkitConfig::CloseDown(); // nothing left to free
}

HK_SCENARIO(ConfigRegistryLines) {
    UseStoreKey(true);
    DWORD value = 0;
    CStringW text;
    HearthkitConfig::GetRegKeyValue(L"Num", &value, 5);
    HearthkitConfig::GetRegKeyValue(L"Missing", &value, -3);
    HearthkitConfig::GetRegKeyValue(L"Text", &value, 6);
    HearthkitConfig::GetRegKeyValue(L"Text", text, L"dflt");
    HearthkitConfig::CloseDown();
    HRESULT hr = HearthkitConfig::GetRegKeyValue(L"StoreOnly", &value, 8, CONFIG_VALUE_STORE);
    std::printf("hr=0x%08lx value=%lu\n", static_cast<unsigned long>(hr), value);
    return 0;
}

TEST(ConfigRegistryLog, ReadsNameTheirSourceAndCloseDownTheFreeing) {
    ClientKeys keys;
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Num", 7);
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Text", L"abc");
    auto run = hk::test::RunLoggedScenario("ConfigRegistryLines", {}, LOG_DETAIL);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    EXPECT_EQ(0u, run.result.output.rfind("hr=0x80070057 value=8", 0)) << run.result.output;
    const std::string& log = run.log;
    for (const char* line :
         {" Num = 7 [Registry]", " Missing = -3 [default]", " Text = 6 [default]", "Freeing store key"}) {
        EXPECT_NE(std::string::npos, log.find(Record(line))) << line << "\n" << log;
    }
    // The string form and a failed store key write no value line.
    EXPECT_EQ(std::string::npos, log.find(" Text = abc")) << log;
    EXPECT_EQ(std::string::npos, log.find("StoreOnly =")) << log;
}
