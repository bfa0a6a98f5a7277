// The loader's way through Windows Installer: mapi32.dll (else mapistub.dll)
// from the system directory, its FGetComponentPath asked for Outlook's
// component with the application's qualifier, then Office's, then none.
//
// These tests put fakes of their own over the system directory's mapi32.dll
// and mapistub.dll, so they run only in a Wine prefix of their own
// (HK_MAPILOADER_SYSTEM_STUBS=1, set by the CTest test that points
// HK_WINEPREFIX there); elsewhere they are skipped.
#include "MapiTestSupport.h"

#include "HkRegKey.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;
using hk::test::FakeCopies;
using hk::test::OutlookRegistration;
using hk::test::ReportLoader;

const wchar_t kComponent[] = L"{6DB4F4A2-1E42-4B3A-9E0B-7C5D8A11F2C4}";
const char kApp[] = "Software\\Microsoft\\Office\\Outlook/LastUILanguage";
const char kOffice[] = "Software\\Microsoft\\Office\\Common/InstallLanguage";

// A file of the system directory replaced (or removed) for one test and put
// back afterwards.
class SystemFile {
public:
    // source: a file beside the tests to put there, or null to remove it.
    SystemFile(const wchar_t* name, const wchar_t* source) {
        wchar_t dir[MAX_PATH] = {};
        ::GetSystemDirectoryW(dir, MAX_PATH);
        m_path = std::wstring(dir) + L"\\" + name;
        m_original = hk::test::ReadFileBytes(m_path);
        ::DeleteFileW(m_path.c_str());
        if (source != nullptr) {
            std::wstring from = hk::test::BinDir() + L"\\" + source;
            EXPECT_TRUE(::CopyFileW(from.c_str(), m_path.c_str(), FALSE)) << hk::test::Narrow(m_path);
        }
    }
    ~SystemFile() {
        ::DeleteFileW(m_path.c_str());
        if (!m_original.empty()) {
            hk::test::WriteFileBytes(m_path, m_original.data(), m_original.size());
        }
    }
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;

private:
    std::wstring m_path;
    std::vector<BYTE> m_original;
};

// Candidates 0..2 are the paths the component answers for the application
// qualifier, the Office qualifier and none; 3 is "DLLPathEx".
enum Candidate { kAppPath, kOfficePath, kNonePath, kDllPathEx };

class MapiComponentPath : public testing::Test {
protected:
    void SetUp() override {
        if (!GetEnvironmentVariableW(L"HK_MAPILOADER_SYSTEM_STUBS", nullptr, 0)) {
            GTEST_SKIP() << "needs a Wine prefix of its own (CTest: hk_mapiloader_system_stub_tests)";
        }
        // Our files in the system directory, not Wine's own modules.
        CRegKey overrides;
        ASSERT_EQ(ERROR_SUCCESS, overrides.Create(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides"));
        overrides.SetStringValue(L"mapi32", L"native");
        overrides.SetStringValue(L"mapistub", L"native");
    }

    // The whole registration: component, both qualifiers (multi-strings, as
    // Outlook writes them) and DLLPathEx.
    void RegisterAll() {
        m_outlook.SetString(L"MSIComponentID", kComponent);
        m_outlook.SetString(L"MSIApplicationLCID", L"Software\\Microsoft\\Office\\Outlook\0LastUILanguage\0"s,
                            REG_MULTI_SZ);
        m_outlook.SetString(L"MSIOfficeLCID", L"Software\\Microsoft\\Office\\Common\0InstallLanguage\0"s,
                            REG_MULTI_SZ);
        m_outlook.SetString(L"DLLPathEx", m_fakes.Path(kDllPathEx));
    }

    // FGetComponentPath's answers: entries "qualifier=result:path" where the
    // path "#N" stands for candidate N.
    std::map<std::string, std::string> Report(std::string answers, const std::wstring& overrides = L"") {
        for (int i = 0; i < 4; ++i) {
            std::string tag = "#" + std::to_string(i);
            for (size_t at; (at = answers.find(tag)) != std::string::npos;) {
                answers.replace(at, tag.size(), hk::test::Narrow(m_fakes.Path(i)));
            }
        }
        std::vector<std::wstring> env = {L"HK_FGCP_ANSWERS=" + hk::test::Widen(answers)};
        if (!overrides.empty()) {
            env.push_back(L"WINEDLLOVERRIDES=mscoree,mshtml=;" + overrides);
        }
        return ReportLoader(m_fakes.Paths(), env);
    }

    // One logged FGetComponentPath request of the stub named module.
    static std::string Call(const char* module, const char* qualifier, const char* component = nullptr) {
        std::string id = component ? component : hk::test::Narrow(kComponent);
        return std::string(module) + ">" + id + ">" + qualifier + ">261>0;";
    }

    FakeCopies m_fakes{L"hk_fakemapi.dll", 4};
    OutlookRegistration m_outlook;
};

TEST_F(MapiComponentPath, QualifiersInOrderThenDllPathExUnlessThePathFails) {
    SystemFile mapi32(L"mapi32.dll", L"hk_fakemapistub.dll");
    RegisterAll();
    auto report = Report(std::string(kApp) + "=1:#0|" + kOffice + "=1:#1|-=1:#2");
    EXPECT_EQ("1", report["loaded"]);
    EXPECT_EQ(std::to_string(kAppPath), report["reached"]);
    EXPECT_EQ(Call("mapi32.dll", kApp), report["calls"]);
    EXPECT_EQ("0,0", report["stubs"]) << "the installer stub is unloaded again";

    // Only a result of exactly TRUE counts, whatever the buffer holds.
    report = Report(std::string(kApp) + "=2:#0|" + kOffice + "=0:#1|-=1:#2");
    EXPECT_EQ(std::to_string(kNonePath), report["reached"]);
    EXPECT_EQ(Call("mapi32.dll", kApp) + Call("mapi32.dll", kOffice) + Call("mapi32.dll", "-"),
              report["calls"]);

    report = Report(std::string(kOffice) + "=1:#1|-=1:#2");
    EXPECT_EQ(std::to_string(kOfficePath), report["reached"]);
    EXPECT_EQ(Call("mapi32.dll", kApp) + Call("mapi32.dll", kOffice), report["calls"]);

    // TRUE with an empty path gives no path either: DLLPathEx is used.
    report = Report("-=1:");
    EXPECT_EQ("1", report["loaded"]);
    EXPECT_EQ(std::to_string(kDllPathEx), report["reached"]);
    EXPECT_EQ(Call("mapi32.dll", kApp) + Call("mapi32.dll", kOffice) + Call("mapi32.dll", "-"),
              report["calls"]);

    // A path that does not load is final.
    report = Report("-=1:" + hk::test::Narrow(m_fakes.Missing()));
    EXPECT_EQ("0", report["loaded"]);
    EXPECT_EQ("Unable to acquire MAPI Handle - '126'", report["lastError"]);
    EXPECT_EQ("0000", report["present"]) << "DLLPathEx is not tried once the component gave a path";
}

// Empty qualifier values are not asked; the component is empty only
// without bytes.
TEST_F(MapiComponentPath, EmptyValues) {
    SystemFile mapi32(L"mapi32.dll", L"hk_fakemapistub.dll");
    m_outlook.SetString(L"MSIComponentID", kComponent);
    m_outlook.SetBytes(L"MSIApplicationLCID", ""); // no bytes: empty; MSIOfficeLCID missing
    auto report = Report("-=1:#2");
    EXPECT_EQ(std::to_string(kNonePath), report["reached"]);
    EXPECT_EQ(Call("mapi32.dll", "-"), report["calls"]);

    m_outlook.SetString(L"DLLPathEx", m_fakes.Path(kDllPathEx));
    // A string holding only its terminating zero is still a component.
    m_outlook.SetString(L"MSIComponentID", L"");
    report = Report("-=1:#2");
    EXPECT_EQ(std::to_string(kNonePath), report["reached"]);
    EXPECT_EQ(Call("mapi32.dll", "-", ""), report["calls"]);

    m_outlook.SetBytes(L"MSIComponentID", "");
    report = Report("-=1:#2");
    EXPECT_EQ(std::to_string(kDllPathEx), report["reached"]);
    EXPECT_EQ("", report["calls"]);
}

// mapistub.dll is asked only when mapi32.dll does not load; with neither,
// or a stub without FGetComponentPath (the fake MAPI), DLLPathEx is used.
TEST_F(MapiComponentPath, StubFallbacks) {
    RegisterAll();
    {
        SystemFile mapi32(L"mapi32.dll", nullptr);
        SystemFile mapistub(L"mapistub.dll", L"hk_fakemapistub.dll");
        auto report = Report("-=1:#2", L"mapi32=");
        EXPECT_EQ(std::to_string(kNonePath), report["reached"]);
        EXPECT_EQ(Call("mapistub.dll", kApp) + Call("mapistub.dll", kOffice) + Call("mapistub.dll", "-"),
                  report["calls"]);
        EXPECT_EQ("0,0", report["stubs"]);
        SystemFile noStub(L"mapistub.dll", nullptr);
        report = Report("-=1:#2", L"mapi32,mapistub=");
        EXPECT_EQ(std::to_string(kDllPathEx), report["reached"]);
        EXPECT_EQ("", report["calls"]);
    }
    SystemFile mapi32(L"mapi32.dll", L"hk_fakemapi.dll");
    SystemFile mapistub(L"mapistub.dll", L"hk_fakemapistub.dll");
    auto report = Report("-=1:#2");
    EXPECT_EQ(std::to_string(kDllPathEx), report["reached"])
        << "mapistub.dll is tried only when mapi32.dll fails";
    EXPECT_EQ("", report["calls"]);
    EXPECT_EQ("0,0", report["stubs"]);
}

} // namespace
