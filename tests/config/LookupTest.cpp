// The layered lookup: registry sources in order, the mask from
// RESTRICTPOLICYLOOKUP, the desktop settings cache, the default, and the
// exact source tags in the log.
#include "ClientKeys.h"
#include "LoggedRun.h"

#include <gtest/gtest.h>

using namespace hk::test;

namespace {

// Registry keys and both caches as the test sets them, emptied again after.
class ConfigLookup : public testing::Test {
protected:
    void SetUp() override { HearthkitConfig::ReleaseStatics(); }
    void TearDown() override { HearthkitConfig::ReleaseStatics(); }

    ClientKeys keys;
};

} // namespace

// "Level" and "Name" in every source; the number tells the source: HKLM 1,
// store key 2, HKCU 3, desktop 4.
TEST_F(ConfigLookup, SourcesAnswerInOrderWithinTheMask) {
    UseStoreKey(true);
    keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Level", 1);
    keys.SetDword(HKEY_CURRENT_USER, kStoreKey, L"Level", 2);
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"Level", 3);
    keys.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"Name", L"machine");
    keys.SetString(HKEY_CURRENT_USER, kStoreKey, L"Name", L"%store%", REG_EXPAND_SZ);
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"Name", L"user");
    HearthkitConfig::AddSetting(L"Level", 4);
    HearthkitConfig::AddSetting(L"Name", L"desktop");
    const struct {
        const wchar_t* mask; // RESTRICTPOLICYLOOKUP from now on, when given
        ConfigValueType type;
        DWORD number;
        const wchar_t* text;
        HRESULT status; // of the mask's lookup when the registry answers
    } cases[] = {
        {nullptr, CONFIG_VALUE_STORE, 1, L"machine", S_FALSE},
        {L"6", CONFIG_VALUE_STORE, 2, L"%store%", S_OK},
        {L"6", CONFIG_VALUE_CLIENT, 3, L"user", S_OK}, // the store key only for store values
        {L"4", CONFIG_VALUE_CLIENT, 4, L"desktop", S_OK},
        {L" +1 and more", CONFIG_VALUE_STORE, 1, L"machine", S_OK},
        {L"0", CONFIG_VALUE_STORE, 4, L"desktop", S_OK},
        {L"none", CONFIG_VALUE_STORE, 4, L"desktop", S_OK},
    };
    for (const auto& c : cases) {
        if (c.mask != nullptr) {
            HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", c.mask);
        }
        DWORD number = kUnset;
        CStringW text = L"stale";
        EXPECT_EQ(c.status, HearthkitConfig::GetConfigValue(L"Level", &number, 99, c.type));
        EXPECT_EQ(c.status, HearthkitConfig::GetConfigStringValue(L"Name", text, L"dflt", c.type));
        EXPECT_EQ(c.number, number) << c.number;
        EXPECT_STREQ(c.text, text) << c.number;
    }
    // A value of the other type is absent; nothing anywhere gives the
    // default. Without a session the settings fail to load: that status.
    HearthkitConfig::ReleaseStatics();
    keys.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"Level", L"1");
    keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Name", 5);
    DWORD number = kUnset;
    CStringW text;
    EXPECT_EQ(E_POINTER, HearthkitConfig::GetConfigValue(L"Level", &number, 99));
    EXPECT_EQ(E_POINTER, HearthkitConfig::GetConfigStringValue(L"Name", text, L"dflt"));
    EXPECT_EQ(3u, number);
    EXPECT_STREQ(L"user", text);
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetConfigValue(L"Level", nullptr, 99));

    // A store key that cannot be derived ends the lookup with the default,
    // unless the machine key answered first.
    UseStoreKey(false);
    keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Level", 1);
    HearthkitConfig::AddSetting(L"Level", 4);
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"6");
    EXPECT_EQ(E_INVALIDARG, HearthkitConfig::GetConfigValue(L"Level", &number, 99, CONFIG_VALUE_STORE));
    EXPECT_EQ(99u, number);
    HearthkitConfig::AddSetting(L"RESTRICTPOLICYLOOKUP", L"7");
    EXPECT_EQ(S_OK, HearthkitConfig::GetConfigValue(L"Level", &number, 99, CONFIG_VALUE_STORE));
    EXPECT_EQ(1u, number);
}

TEST_F(ConfigLookup, DesktopSettingsReadAsNumbers) {
    HearthkitConfig::AddSetting(L"Flag", L"TRUE"); // as the parser keeps " TRUE"
    HearthkitConfig::AddSetting(L"Neg", L"-12x");
    const struct {
        const wchar_t* name;
        HRESULT status;
        DWORD number;
        const wchar_t* text;
    } cases[] = {
        {L"flag", S_OK, 0, L"TRUE"},
        {L"Neg", S_OK, static_cast<DWORD>(-12), L"-12x"},
        {L"absent", S_FALSE, 99, nullptr},
    };
    for (const auto& c : cases) {
        DWORD number = kUnset;
        CComBSTR text(L"stale");
        EXPECT_EQ(c.status, HearthkitConfig::GetConfigValue(c.name, &number, 99));
        EXPECT_EQ(c.number, number);
        EXPECT_EQ(c.status, HearthkitConfig::GetSetting(c.name, text, 0));
        EXPECT_TRUE(c.text == nullptr ? !text : std::wstring(c.text) == text.m_str) << c.name;
    }
}

HK_SCENARIO(ConfigLookupLines) {
    UseStoreKey(true);
    DWORD value = 0;
    CStringW text;
    HearthkitConfig::GetConfigValue(L"NoMailbox", &value, 8); // before any settings
    HearthkitConfig::AddSetting(L"Desk", L"5x");
    HearthkitConfig::AddSetting(L"DeskS", L"5x");
    HearthkitConfig::m_UpdatedSettings[L"LONG"] = std::wstring(3000, L'y');
    HearthkitConfig::m_UpdatedSettings[L"SHORT"] = L"s";
    for (std::wstring name : {L"Machine", L"Store", L"User", L"Desk", L"Absent"}) {
        HearthkitConfig::GetConfigValue(name.c_str(), &value, 7, CONFIG_VALUE_STORE);
        HearthkitConfig::GetConfigStringValue((name + L"S").c_str(), text, L"dflt", CONFIG_VALUE_STORE);
    }
    HearthkitConfig::LogUpdatedDesktopSettings();
    return 0;
}

TEST_F(ConfigLookup, EachValueIsLoggedWithItsSource) {
    keys.SetDword(HKEY_LOCAL_MACHINE, kClientKey, L"Machine", 1);
    keys.SetDword(HKEY_CURRENT_USER, kStoreKey, L"Store", 2);
    keys.SetDword(HKEY_CURRENT_USER, kClientKey, L"User", 3);
    keys.SetString(HKEY_LOCAL_MACHINE, kClientKey, L"MachineS", L"m");
    keys.SetString(HKEY_CURRENT_USER, kStoreKey, L"StoreS", L"s");
    keys.SetString(HKEY_CURRENT_USER, kClientKey, L"UserS", L"u");
    auto run = hk::test::RunLoggedScenario("ConfigLookupLines", {}, LOG_DETAIL);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const std::string& log = run.log;
    for (const char* line : {
             " NoMailbox = 8 [default]",
             " Machine = 1 [Registry HKLM Client Root]",
             " Store = 2 [Registry HKCU Store Key]",
             " User = 3 [Registry HKCU Client Root]",
             "    Desktop Setting: Desk",
             "    Value: 5x",
             " Desk = 5 [Desktop Setting]",
             " DeskS = 5x [Desktop Setting]",
             " MachineS = m [Registry HKLM Client Root]",
             " StoreS = s [Registry HKCU Store Key]",
             " UserS = u [Registry HKCU Client Root]",
             " Absent = 7 [default]",
             "    No Value",
             " AbsentS = dflt [default]",
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
