// Outlook host helpers: the main-window search over real top-level windows,
// the login-dialog parent, Outlook's version and the registry helpers.
#include "Hearthkit.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

const wchar_t kOutlookClass[] = L"rctrl_renwnd32";
const wchar_t kOtherClass[] = L"HearthkitTestsOther";
const wchar_t kKey[] = L"Software\\HearthkitTests\\Host";

void RegisterClasses() {
    static bool done = false;
    if (done) {
        return;
    }
    for (const wchar_t* name : {kOutlookClass, kOtherClass}) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = name;
        ::RegisterClassW(&wc);
    }
    done = true;
}

struct Window {
    HWND hwnd;
    Window(const wchar_t* cls, const wchar_t* title) {
        RegisterClasses();
        hwnd = ::CreateWindowExW(0, cls, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    }
    ~Window() {
        if (hwnd) {
            ::DestroyWindow(hwnd);
        }
    }
};

class HostOutlookWindow : public testing::Test {
protected:
    void SetUp() override { HearthkitUtil::m_hwndOutlookWindow = nullptr; }
    void TearDown() override { HearthkitUtil::m_hwndOutlookWindow = nullptr; }
};

TEST_F(HostOutlookWindow, TakesOnlyATitleWithTextBeforeTheNameAndTheRightClass) {
    Window exact(kOutlookClass, L"Microsoft Outlook");
    Window wrongClass(kOtherClass, L"Inbox - Microsoft Outlook");
    Window untitled(kOutlookClass, L"");
    ASSERT_TRUE(exact.hwnd && wrongClass.hwnd && untitled.hwnd);
    EXPECT_EQ(nullptr, HearthkitUtil::GetOutlookWindowHandle());

    Window outlook(kOutlookClass, L"Inbox - Microsoft Outlook");
    ASSERT_TRUE(outlook.hwnd);
    EXPECT_EQ(outlook.hwnd, HearthkitUtil::GetOutlookWindowHandle());
}

TEST_F(HostOutlookWindow, ReplacesAStaleHandleWithTheNewWindow) {
    auto first = std::make_unique<Window>(kOutlookClass, L"Inbox - Microsoft Outlook");
    EXPECT_EQ(first->hwnd, HearthkitUtil::GetOutlookWindowHandle());
    first.reset();
    Window second(kOutlookClass, L"Calendar - Microsoft Outlook");
    EXPECT_EQ(second.hwnd, HearthkitUtil::GetOutlookWindowHandle());
}

TEST_F(HostOutlookWindow, LoginParentIsTheSynchroniserRestoredOrElseOutlook) {
    Window outlook(kOutlookClass, L"Inbox - Microsoft Outlook");
    HearthkitUtil::SetHCSyncWindowHandle(nullptr);
    EXPECT_EQ(outlook.hwnd, HearthkitUtil::GetHCLoginWindowHandle());

    Window sync(kOtherClass, L"Hoardcache");
    ::ShowWindow(sync.hwnd, SW_SHOWMINIMIZED);
    HearthkitUtil::SetHCSyncWindowHandle(sync.hwnd);
    EXPECT_EQ(sync.hwnd, HearthkitUtil::GetHCSyncWindowHandle());
    EXPECT_EQ(sync.hwnd, HearthkitUtil::GetHCLoginWindowHandle());
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    ASSERT_TRUE(::GetWindowPlacement(sync.hwnd, &placement));
    EXPECT_NE(static_cast<UINT>(SW_SHOWMINIMIZED), placement.showCmd);
    HearthkitUtil::SetHCSyncWindowHandle(nullptr);
}

class HostRegistry : public testing::Test {
protected:
    hk::test::RegistryKeyGuard guard{HKEY_CURRENT_USER, kKey};
};

TEST_F(HostRegistry, StringValuesLongerThan127CharactersAreRefused) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kKey));
    key.SetStringValue(L"Fits", std::wstring(127, L'a').c_str());
    key.SetStringValue(L"TooLong", std::wstring(128, L'a').c_str());
    key.SetDWORDValue(L"Number", 7);
    std::unique_ptr<wchar_t[]> fits(HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, L"Fits"));
    ASSERT_TRUE(fits);
    EXPECT_EQ(std::wstring(127, L'a'), fits.get());
    EXPECT_EQ(nullptr,
              std::unique_ptr<wchar_t[]>(HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, L"TooLong")));
    EXPECT_EQ(nullptr,
              std::unique_ptr<wchar_t[]>(HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, L"Number")));
    EXPECT_EQ(nullptr,
              std::unique_ptr<wchar_t[]>(HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, L"None")));
}

TEST_F(HostRegistry, NumbersAreWrittenCreatingTheKeyAndReadWithTheirDefault) {
    HearthkitUtil::SetRegValue(HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Deeper").c_str(), L"N", 0x1234);
    EXPECT_EQ(0x1234u, HearthkitUtil::GetRegValue(
                           HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Deeper").c_str(), L"N", 0xdeadbeef));
    EXPECT_EQ(0xdeadbeefu, HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, L"Missing", 0xdeadbeef));
    EXPECT_EQ(0xdeadbeefu, HearthkitUtil::GetRegValue(
                               HKEY_CURRENT_USER, L"Software\\HearthkitTests\\NoSuchKey", L"N", 0xdeadbeef));
}

void SetCurVer(const wchar_t* text) {
    CRegKey key;
    key.Create(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer");
    key.SetStringValue(nullptr, text);
}

HK_SCENARIO(OutlookVersionIsRetriedUntilKnownThenKept) {
    hk::test::RegistryKeyGuard guard(HKEY_CLASSES_ROOT, L"Outlook.Application");
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Outlook.Application");
    int none = HearthkitUtil::GetOutlookMajorVersion();
    SetCurVer(L"Outlook.Application.16");
    int known = HearthkitUtil::GetOutlookMajorVersion();
    SetCurVer(L"Outlook.Application.12");
    int kept = HearthkitUtil::GetOutlookMajorVersion();
    std::printf("%d %d %d", none, known, kept);
    return 0;
}

HK_SCENARIO(OutlookVersionWithoutADotIsZero) {
    hk::test::RegistryKeyGuard guard(HKEY_CLASSES_ROOT, L"Outlook.Application");
    SetCurVer(L"Outlook");
    std::printf("%d", HearthkitUtil::GetOutlookMajorVersion());
    return 0;
}

TEST(HostOutlookVersion, IsRetriedUntilKnownThenKeptForTheProcess) {
    auto r = hk::test::RunScenario("OutlookVersionIsRetriedUntilKnownThenKept");
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ("0 16 16", r.output);
    r = hk::test::RunScenario("OutlookVersionWithoutADotIsZero");
    EXPECT_EQ("0", r.output);
}

} // namespace
