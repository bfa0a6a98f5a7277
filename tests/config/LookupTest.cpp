// The layered lookup: registry sources in order, the mask from
// RESTRICTPOLICYLOOKUP, the desktop settings cache, the default, and the
// exact source tags in the log.
#include "ClientKeys.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>
#include <cstdio>

using namespace hk::test;

namespace {

// Registry keys and both caches as the test sets them, emptied again after.
class ConfigLookup : public testing::Test {
protected:
    void SetUp() override { HearthkitConfig::ReleaseStatics(); }
    void TearDown() override { HearthkitConfig::ReleaseStatics(); }

    // "Level" everywhere: HKLM 1, store key 2, HKCU 3, desktop 4.
    void EverySource() {
        keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Level", 1);
        keys.SetDword(HKEY_CURRENT_USER, kStoreKey, L"Level", 2);
        keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Level", 3);
        HearthkitConfig::AddSetting(L"Level", 4);
    }
    DWORD Lookup(ConfigValueType type = CONFIG_VALUE_STORE, HRESULT* status = nullptr) {
        DWORD value = kUnset;
        HRESULT hr = HearthkitConfig::GetConfigValue(L"Level", &value, 99, type, 0);
        if (status != nullptr) {
            *status = hr;
        }
        return value;
    }

    ClientKeys keys;
};

} // namespace

TEST_F(ConfigLookup, SourcesAnswerInOrderMachineStoreUserDesktopDefault) {
    UseStoreKey(true);
    EverySource();
    EXPECT_EQ(1u, Lookup());
    keys.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"Level", L"1"); // wrong type: absent
    EXPECT_EQ(2u, Lookup());
    EXPECT_EQ(3u, Lookup(CONFIG_VALUE_CLIENT)); // the store key only for store values
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kStoreKey));
        key.DeleteValue(L"Level");
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kClientKey));
        key.DeleteValue(L"Level");
    }
    HRESULT status = kUnset;
    EXPECT_EQ(4u, Lookup(CONFIG_VALUE_STORE, &status));
    EXPECT_EQ(S_OK, status);
    HearthkitConfig::ReleaseStatics();
    EXPECT_EQ(99u, Lookup(CONFIG_VALUE_STORE, &status));
    EXPECT_EQ(E_POINTER, status); // no session: the load failure, the default
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetConfigValue(L"Level", nullptr, 99));
}

TEST_F(ConfigLookup, RestrictPolicyLookupMasksTheRegistry) {
    UseStoreKey(true);
    EverySource();
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"0");
    EXPECT_EQ(4u, Lookup());
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L" +1 and more");
    EXPECT_EQ(1u, Lookup());
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"6");
    EXPECT_EQ(2u, Lookup());
    EXPECT_EQ(3u, Lookup(CONFIG_VALUE_CLIENT));
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"4");
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kStoreKey));
        key.DeleteValue(L"Level");
    }
    EXPECT_EQ(4u, Lookup());
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"none");
    EXPECT_EQ(4u, Lookup());
}

TEST_F(ConfigLookup, AStoreKeyThatCannotBeDerivedEndsTheLookup) {
    UseStoreKey(false);
    EverySource();
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"6");
    HRESULT status = kUnset;
    EXPECT_EQ(99u, Lookup(CONFIG_VALUE_STORE, &status));
    EXPECT_EQ(E_INVALIDARG, status);
    CStringW text = L"stale";
    EXPECT_EQ(E_INVALIDARG,
              HearthkitConfig::GetConfigStringValue(L"Level", text, L"dflt", CONFIG_VALUE_STORE, 0));
    EXPECT_STREQ(L"dflt", text);
    // The machine key answers before the store key is needed.
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"7");
    EXPECT_EQ(1u, Lookup(CONFIG_VALUE_STORE, &status));
    EXPECT_EQ(S_OK, status);
}

TEST_F(ConfigLookup, DesktopTextsReadAsNumbers) {
    HearthkitConfig::AddSetting(L"One", L"1");
    HearthkitConfig::AddSetting(L"Flag", L"TRUE"); // as the parser keeps " TRUE"
    HearthkitConfig::AddSetting(L"Neg", L"-12x");
    DWORD value = kUnset;
    EXPECT_EQ(S_OK, HearthkitConfig::GetConfigValue(L"one", &value, 99));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(S_OK, HearthkitConfig::GetConfigValue(L"FLAG", &value, 99));
    EXPECT_EQ(0u, value);
    EXPECT_EQ(S_OK, HearthkitConfig::GetConfigValue(L"Neg", &value, 99));
    EXPECT_EQ(static_cast<DWORD>(-12), value);
    EXPECT_EQ(S_FALSE, HearthkitConfig::GetConfigValue(L"Other", &value, 99));
    EXPECT_EQ(99u, value);
}

TEST_F(ConfigLookup, StringsFollowTheSameOrder) {
    UseStoreKey(true);
    keys.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"Name", L"machine");
    keys.SetString(HKEY_CURRENT_USER, kStoreKey, L"Name", L"%store%", REG_EXPAND_SZ);
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Name", L"user");
    HearthkitConfig::AddSetting(L"Name", L"desktop");
    CStringW text = L"stale";
    // The status of a registry answer is that of the RESTRICTPOLICYLOOKUP lookup.
    EXPECT_EQ(S_FALSE, HearthkitConfig::GetConfigStringValue(L"Name", text, L"dflt", CONFIG_VALUE_STORE));
    EXPECT_STREQ(L"machine", text);
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"4");
    EXPECT_EQ(S_OK, HearthkitConfig::GetConfigStringValue(L"Name", text, L"dflt", CONFIG_VALUE_STORE));
    EXPECT_STREQ(L"%store%", text);
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"0");
    EXPECT_EQ(S_OK, HearthkitConfig::GetConfigStringValue(L"Name", text, L"dflt", CONFIG_VALUE_STORE));
    EXPECT_STREQ(L"desktop", text);
    HearthkitConfig::ReleaseStatics();
    keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Name", 5); // wrong type
    EXPECT_EQ(E_POINTER, HearthkitConfig::GetConfigStringValue(L"Name", text, L"dflt", CONFIG_VALUE_CLIENT));
    EXPECT_STREQ(L"user", text);
    // No mailbox and nothing in the registry: the default.
    EXPECT_EQ(E_POINTER, HearthkitConfig::GetConfigStringValue(L"Missing", text, L"dflt")); // no session
    EXPECT_STREQ(L"dflt", text);
}

TEST_F(ConfigLookup, SettingsComeFromTheCacheByUpperCaseName) {
    CComBSTR value(L"stale");
    EXPECT_EQ(E_POINTER, HearthkitConfig::GetSetting(L"A", value, 0)); // no session
    EXPECT_TRUE(!value);
    HearthkitConfig::AddSetting(L"mixed Case", L"v");
    HearthkitConfig::AddSetting(L"Empty", L"");
    EXPECT_EQ(S_OK, HearthkitConfig::GetSetting(L"MIXED case", value, 0));
    EXPECT_STREQ(L"v", value);
    EXPECT_EQ(S_OK, HearthkitConfig::GetSetting(L"empty", value, 0));
    EXPECT_STREQ(L"", value);
    EXPECT_EQ(S_FALSE, HearthkitConfig::GetSetting(L"absent", value, 0));
    EXPECT_TRUE(!value);
    // The updated cache answers first when asked to check; without a
    // session a due update check fails the lookup.
    HearthkitConfig::m_UpdatedSettings[L"MIXED CASE"] = L"newer";
    HearthkitConfig::s_dLastUpdateCheck = 1e9; // far in the future: no check due
    EXPECT_EQ(S_OK, HearthkitConfig::GetSetting(L"Mixed Case", value, 1));
    EXPECT_STREQ(L"newer", value);
    EXPECT_EQ(S_OK, HearthkitConfig::GetSetting(L"Mixed Case", value, 0));
    EXPECT_STREQ(L"v", value);
    HearthkitConfig::s_dLastUpdateCheck = 0;
    EXPECT_EQ(E_POINTER, HearthkitConfig::GetSetting(L"Mixed Case", value, 1));
}

TEST_F(ConfigLookup, ItemsInCacheInNameOrderAndAnEmptyCacheLeavesTheVectors) {
    std::vector<std::wstring> names{L"keep"}, values{L"these"};
    EXPECT_EQ(S_OK, HearthkitConfig::GetItemsInCache(false, names, values));
    EXPECT_EQ(std::vector<std::wstring>{L"keep"}, names);
    EXPECT_EQ(std::vector<std::wstring>{L"these"}, values);
    HearthkitConfig::AddSetting(L"b", 2);
    HearthkitConfig::AddSetting(L"a", L"x");
    HearthkitConfig::AddSetting(L"_", -1);
    EXPECT_EQ(S_OK, HearthkitConfig::GetItemsInCache(false, names, values));
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", L"_"}), names);
    EXPECT_EQ((std::vector<std::wstring>{L"x", L"2", L"-1"}), values);
    EXPECT_EQ(S_OK, HearthkitConfig::GetItemsInCache(true, names, values));
    EXPECT_EQ(3u, names.size());
    FILETIME zero = HearthkitConfig::GetSettingsLastModTime(1);
    EXPECT_EQ(0u, zero.dwLowDateTime | zero.dwHighDateTime);
}

HK_SCENARIO(ConfigLookupLines) {
    UseStoreKey(true);
    DWORD value = 0;
    CStringW text;
    HearthkitConfig::GetConfigValue(L"NoMailbox", &value, 8); // before any settings
    HearthkitConfig::AddSetting(L"Desk", 5);
    HearthkitConfig::AddSetting(L"DeskText", L"hello");
    HearthkitConfig::m_UpdatedSettings[L"LONG"] = std::wstring(3000, L'y');
    HearthkitConfig::m_UpdatedSettings[L"SHORT"] = L"s";
    for (const wchar_t* name : {L"Machine", L"Store", L"User", L"Desk", L"Absent"}) {
        HearthkitConfig::GetConfigValue(name, &value, 7, CONFIG_VALUE_STORE);
        HearthkitConfig::GetConfigStringValue(name, text, L"dflt", CONFIG_VALUE_STORE);
    }
    HearthkitConfig::GetConfigStringValue(L"DeskText", text, L"dflt");
    HearthkitConfig::GetConfigStringValue(L"MachineS", text, L"dflt", CONFIG_VALUE_STORE);
    HearthkitConfig::GetConfigStringValue(L"StoreS", text, L"dflt", CONFIG_VALUE_STORE);
    HearthkitConfig::GetConfigStringValue(L"UserS", text, L"dflt", CONFIG_VALUE_STORE);
    HearthkitConfig::LogUpdatedDesktopSettings();
    return 0;
}

TEST_F(ConfigLookup, EachValueIsLoggedWithItsSource) {
    keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Machine", 1);
    keys.SetDword(HKEY_CURRENT_USER, kStoreKey, L"Store", 2);
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"User", 3);
    keys.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"MachineS", L"m");
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"UserS", L"u");
    keys.SetString(HKEY_CURRENT_USER, kStoreKey, L"StoreS", L"s");
    auto run = hk::test::RunLoggedScenario("ConfigLookupLines", {}, LOG_DETAIL);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const std::string& log = run.log;
    for (const char* line : {
             " NoMailbox = 8 [default]",
             " Machine = 1 [Registry HKLM Client Root]",
             " Store = 2 [Registry HKCU Store Key]",
             " User = 3 [Registry HKCU Client Root]",
             "    Desktop Setting: Desk",
             "    Value: 5",
             " Desk = 5 [Desktop Setting]",
             " MachineS = m [Registry HKLM Client Root]",
             " StoreS = s [Registry HKCU Store Key]",
             " UserS = u [Registry HKCU Client Root]",
             " Absent = 7 [default]",
             "    No Value",
             " Absent = dflt [default]",
             " DeskText = hello [Desktop Setting]",
             "    SHORT = s",
         }) {
        EXPECT_NE(std::string::npos, log.find(Record(line))) << line << "\n" << log;
    }
    EXPECT_EQ(std::string::npos, log.find("Desktop Setting: NoMailbox")) << "nothing logged before a load";
    // A line longer than the buffer is cut and marked.
    size_t longLine = log.find("    LONG = yyy");
    ASSERT_NE(std::string::npos, longLine) << log;
    size_t end = log.find("\r\n", longLine);
    EXPECT_EQ("...", log.substr(end - 3, 3));
    EXPECT_EQ(2047u - 4u, end - 3 - longLine);
}
