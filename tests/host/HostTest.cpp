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

// Registering again fails harmlessly.
void RegisterClasses() {
    for (const wchar_t* name : {kOutlookClass, kOtherClass}) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = name;
        ::RegisterClassW(&wc);
    }
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

// Only a title with text before the name, of the right class; a stale handle
// gives way to the new window.
TEST_F(HostOutlookWindow, TakesOnlyATitleWithTextBeforeTheNameAndTheRightClass) {
    Window exact(kOutlookClass, L"Microsoft Outlook");
    Window wrongClass(kOtherClass, L"Inbox - Microsoft Outlook");
    Window untitled(kOutlookClass, L"");
    ASSERT_TRUE(exact.hwnd && wrongClass.hwnd && untitled.hwnd);
    EXPECT_EQ(nullptr, HearthkitUtil::GetOutlookWindowHandle());

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

// Strings longer than 127 characters are refused; numbers are written
// creating the key and read with their default.
TEST(HostRegistry, StringsUpTo127CharactersAndNumbers) {
    hk::test::RegistryKeyGuard guard{HKEY_CURRENT_USER, kKey};
    const std::wstring deeper = std::wstring(kKey) + L"\\Deeper";
    HearthkitUtil::SetRegValue(HKEY_CURRENT_USER, deeper.c_str(), L"N", 0x1234);
    EXPECT_EQ(0x1234u, HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, deeper.c_str(), L"N", 0xdeadbeef));
    EXPECT_EQ(0xdeadbeefu, HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, L"Missing", 0xdeadbeef));
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, kKey));
    key.SetStringValue(L"Fits", std::wstring(127, L'a').c_str());
    key.SetStringValue(L"TooLong", std::wstring(128, L'a').c_str());
    key.SetDWORDValue(L"Number", 7);
    auto text = [](const wchar_t* name) {
        std::unique_ptr<wchar_t[]> value(HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, kKey, name));
        return value ? std::wstring(value.get()) : L"(null)";
    };
    EXPECT_EQ(std::wstring(127, L'a'), text(L"Fits"));
    for (const wchar_t* name : {L"TooLong", L"Number", L"None"}) {
        EXPECT_EQ(L"(null)", text(name)) << name;
    }
}

void SetCurVer(const wchar_t* text) {
    CRegKey key;
    key.Create(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer");
    key.SetStringValue(nullptr, text);
}

// Prints the version read after each CurVer text in args ("-" removes the
// class); the first known version is kept for the process.
HK_SCENARIO(OutlookVersions) {
    hk::test::RegistryKeyGuard guard(HKEY_CLASSES_ROOT, L"Outlook.Application");
    for (const auto& text : args) {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Outlook.Application");
        if (text != L"-") {
            SetCurVer(text.c_str());
        }
        std::printf("%d ", HearthkitUtil::GetOutlookMajorVersion());
    }
    return 0;
}

TEST(HostOutlookVersion, IsRetriedUntilKnownThenKeptForTheProcess) {
    auto r = hk::test::RunScenario("OutlookVersions",
                                   {L"-", L"Outlook.Application.16", L"Outlook.Application.12"});
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ("0 16 16 ", r.output);
    EXPECT_EQ("0 ", hk::test::RunScenario("OutlookVersions", {L"Outlook"}).output);
}

} // namespace
