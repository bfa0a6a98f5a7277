// The registry clean-up of MAPI's profiles, on profiles written directly in
// MAPI's layout (no MAPI involved), run in a fresh process with its log.
#include "LoggedRun.h"
#include "ProviderTestEnv.h"
#include "Scenario.h"

#include <gtest/gtest.h>

using namespace providertest;

namespace {

std::wstring ProfileKey(const std::wstring& profile, const std::wstring& section = L"") {
    std::wstring path = std::wstring(kProfilesRoot) + L"\\" + profile;
    return section.empty() ? path : path + L"\\" + section;
}

std::vector<BYTE> Join(std::initializer_list<std::vector<BYTE>> uids) {
    std::vector<BYTE> list;
    for (const auto& uid : uids) {
        list.insert(list.end(), uid.begin(), uid.end());
    }
    return list;
}

// A section of profile named by uid holding dllValue = dll and, when given,
// the MDC path.
void Section(const std::wstring& profile, const std::vector<BYTE>& uid, const wchar_t* dllValue,
             const std::wstring& dll, const std::wstring& mdcPath = L"") {
    SetBinary(ProfileKey(profile, Hex(uid)), dllValue, WideBytes(dll));
    if (!mdcPath.empty()) {
        SetBinary(ProfileKey(profile, Hex(uid)), L"001f6700", WideBytes(mdcPath));
    }
}

void ClientProfilesKey(const std::wstring& relative) {
    std::wstring path = std::wstring(kClientKey) + L"\\" + relative + L"\\Profiles";
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, (path + L"\\deeper\\deepest").c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, path.c_str()));
    key.SetDWORDValue(L"00112233", 1);
}

} // namespace

HK_SCENARIO(CleanupAllProfiles) {
    return SHMSPConfig::RemoveSHMSPFromRegistryProfiles() ? 0 : 1;
}

TEST(RegistryCleanup, StripsOnlyTheProductsEntriesOfEveryProfile) {
    hk::test::RegistryKeyGuard profiles(HKEY_CURRENT_USER, kProfilesRoot);
    hk::test::RegistryKeyGuard client(HKEY_CURRENT_USER, kClientKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kProfilesRoot);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);

    // "Mixed": services S1 (PST), S2 (the product's, lower case, with an MDC
    // path of its own), S3 (no section), S4; store providers P1 (PST), P2
    // and P3 (the product's, P3 with an unparseable path), P4 (the product's
    // name, but stored as REG_SZ: unreadable, so kept).
    const auto s1 = UidBytes(0x10), s2 = UidBytes(0x20), s3 = UidBytes(0x30), s4 = UidBytes(0x40);
    const auto p1 = UidBytes(0x50), p2 = UidBytes(0x60), p3 = UidBytes(0x70), p4 = UidBytes(0x80);
    SetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d0e", Join({s1, s2, s3, s4}));
    SetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d00", Join({p1, p2, p3, p4}));
    Section(L"Mixed", s1, L"001f3d0a", L"MSPST.DLL");
    Section(L"Mixed", s2, L"001f3d0a", L"shmsp.dll", L"C:\\Cache\\STORE\\svc.db");
    Section(L"Mixed", s4, L"001f3d0a", L"SHMSP.DLL");
    SetBinary(ProfileKey(L"Mixed", Hex(s4)) + L"\\sub\\deeper", L"x", {1}); // goes with its section
    Section(L"Mixed", p1, L"001f300a", L"MSPST.DLL", L"C:\\Cache\\STORE\\pst.db");
    Section(L"Mixed", p2, L"001f300a", L"SHMSP.DLL", L"C:\\Cache\\STORE\\gone.db");
    Section(L"Mixed", p3, L"001f300a", L"Shmsp.Dll", L"C:\\gone2.db");
    {
        CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, ProfileKey(L"Mixed", Hex(p4)).c_str()));
        key.SetStringValue(L"001f300a", L"SHMSP.DLL");
    }
    for (const wchar_t* relative : {L"STORE\\gone", L"STORE\\svc", L"STORE\\pst", L"gone2"}) {
        ClientProfilesKey(relative);
    }

    // Profiles that must come out byte for byte as they went in: a list that
    // is no whole number of UIDs, and no services section.
    const auto x = UidBytes(0x90);
    auto ragged = Join({x});
    ragged.push_back(0);
    SetBinary(ProfileKey(L"Ragged", kServicesSection), L"01023d00", ragged);
    Section(L"Ragged", x, L"001f300a", L"SHMSP.DLL", L"C:\\Cache\\STORE\\gone.db");
    SetBinary(ProfileKey(L"Bare", L"13dbb0c8aa05101a9bb000aa002fc45a"), L"001f3d12", WideBytes(L"Bare"));
    const std::string untouched[] = {DumpTree(HKEY_CURRENT_USER, ProfileKey(L"Ragged")),
                                     DumpTree(HKEY_CURRENT_USER, ProfileKey(L"Bare"))};

    auto logged = hk::test::RunLoggedScenario("CleanupAllProfiles", {}, LOG_DETAIL);
    const auto& run = logged.result;
    ASSERT_EQ(0u, run.exitCode) << run.output;

    EXPECT_EQ(Join({s1, s3}), GetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d0e"));
    EXPECT_EQ(Join({p1, p4}), GetBinary(ProfileKey(L"Mixed", kServicesSection), L"01023d00"));
    for (const auto& gone : {s2, s4, p2, p3}) {
        EXPECT_FALSE(KeyExists(ProfileKey(L"Mixed", Hex(gone))));
    }
    for (const auto& kept : {s1, p1, p4}) {
        EXPECT_TRUE(KeyExists(ProfileKey(L"Mixed", Hex(kept))));
    }
    EXPECT_FALSE(KeyExists(std::wstring(kClientKey) + L"\\STORE\\gone\\Profiles"));
    EXPECT_TRUE(KeyExists(std::wstring(kClientKey) + L"\\STORE\\gone")) << "only its Profiles key goes";
    EXPECT_TRUE(KeyExists(std::wstring(kClientKey) + L"\\STORE\\svc\\Profiles")) << "not in the service pass";
    EXPECT_TRUE(KeyExists(std::wstring(kClientKey) + L"\\STORE\\pst\\Profiles")) << "not the product's";
    EXPECT_TRUE(KeyExists(std::wstring(kClientKey) + L"\\gone2\\Profiles"));
    EXPECT_EQ(untouched[0], DumpTree(HKEY_CURRENT_USER, ProfileKey(L"Ragged")));
    EXPECT_EQ(untouched[1], DumpTree(HKEY_CURRENT_USER, ProfileKey(L"Bare")));

    const std::string& log = logged.log;
    for (const std::string& line : {
             std::string("Processing profile Mixed ; Provider 01023d00 \r\n"),
             std::string("Got MDC Path: C:\\gone2.db\r\n"),
             std::string("Failed to parse MDC Path"),
             std::string("Deleting SH Client Profiles key: "
                         "SOFTWARE\\Talvo\\Stowhaven\\Client\\STORE\\gone\\Profiles\r\n"),
         }) {
        EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
    }
}
