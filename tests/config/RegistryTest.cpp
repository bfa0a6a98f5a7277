// Registry values of the configuration: reads with defaults and wrong types,
// writes that never create a key, deletion by an empty string, the store
// key, and the exact log lines.
#include "ClientKeys.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <cstdio>

using namespace hk::test;

namespace {

// The value's type, or REG_NONE when it (or its key) is missing.
DWORD ValueType(const wchar_t* path, const wchar_t* name) {
    DWORD type = REG_NONE;
    return ::RegGetValueW(HKEY_CURRENT_USER, path, name, RRF_RT_ANY, &type, nullptr, nullptr) == ERROR_SUCCESS
               ? type
               : REG_NONE;
}

} // namespace

TEST(ConfigRegistryRead, ValuesComeFromTheChosenKeyOrTheDefault) {
    ClientKeys keys;
    UseStoreKey(true);
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Num", 7);
    keys.SetDword(HKEY_CURRENT_USER, kStoreKey, L"Num", 9);
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Text", L"text");
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Expand", L"%TEMP%\\x", REG_EXPAND_SZ);
    keys.SetString(HKEY_CURRENT_USER, kStoreKey, L"Text", L"");
    const struct {
        const wchar_t* name;
        ConfigValueType type;
        DWORD number; // 5 is the default
        const wchar_t* text;
    } cases[] = {
        {L"Num", CONFIG_VALUE_CLIENT, 7, L"dflt"},
        {L"num", CONFIG_VALUE_STORE, 9, L"dflt"},
        {L"Num", static_cast<ConfigValueType>(3), 7, L"dflt"}, // any other type reads the client root
        {L"Text", CONFIG_VALUE_CLIENT, 5, L"text"},
        {L"Text", CONFIG_VALUE_STORE, 5, L""},
        {L"Expand", CONFIG_VALUE_CLIENT, 5, L"%TEMP%\\x"},
        {L"Missing", CONFIG_VALUE_STORE, 5, L"dflt"},
    };
    for (const auto& c : cases) {
        DWORD number = kUnset;
        CStringW text = L"stale";
        EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(c.name, &number, 5, c.type));
        EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(c.name, text, L"dflt", c.type));
        EXPECT_EQ(c.number, number) << hk::test::Narrow(c.name);
        EXPECT_STREQ(c.text, text) << hk::test::Narrow(c.name);
    }
    CStringW text = L"stale";
    EXPECT_EQ(S_OK, HearthkitConfig::GetRegKeyValue(L"Missing", text, nullptr));
    EXPECT_STREQ(L"", text);
    DWORD number = kUnset;
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(nullptr, &number, 5));
    EXPECT_EQ(5u, number);
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(L"Num", nullptr, 5));
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
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(L"Num", L"x", CONFIG_VALUE_STORE));

    wchar_t* path = nullptr;
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetClientStoreKey(nullptr));
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetClientStoreKey(&path));
    EXPECT_TRUE(HearthkitConfig::m_szStoreRootKey == nullptr && path == nullptr);
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
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), ValueType(kClientKey, L"Text"));
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", L""));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), ValueType(kClientKey, L"Text"));
    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Text", static_cast<const wchar_t*>(nullptr))); // gone

    EXPECT_EQ(S_OK, HearthkitConfig::SetRegKeyValue(L"Num", DWORD(42), CONFIG_VALUE_STORE));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), ValueType(kStoreKey, L"Num"));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), ValueType(kClientKey, L"Num"));
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(nullptr, L"x"));

    // "HoardviewConfiguredProfiles" lives under the store key.
    HearthkitConfig::SetHoardviewConfiguredProfiles(L"Outlook;Second");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), ValueType(kStoreKey, L"HoardviewConfiguredProfiles"));
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
    HearthkitConfig::CloseDown(); // nothing left to free
    std::printf("name=%ls\n", HearthkitConfig::m_StoreKey.GetString());
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
    // CloseDown keeps the name; the key path is derived again (here: fails).
    EXPECT_EQ("TESTSTORE", run.values["name"]);
    EXPECT_EQ("0x80070057 value=8", run.values["hr"]);
    const std::string& log = run.log;
    for (const char* line :
         {" Num = 7 [Registry]", " Missing = -3 [default]", " Text = 6 [default]", "Freeing store key"}) {
        EXPECT_NE(std::string::npos, log.find(Record(line))) << line << "\n" << log;
    }
    EXPECT_EQ(log.find("Freeing store key"), log.rfind("Freeing store key")) << log;
    // The string form and a failed store key write no value line.
    EXPECT_EQ(std::string::npos, log.find(" Text = abc")) << log;
    EXPECT_EQ(std::string::npos, log.find("StoreOnly =")) << log;
}
