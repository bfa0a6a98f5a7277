// WinINet's own credentials dialog as a user meets it: a display of its own
// (Xvfb, started by with-xvfb.sh), the real "Authentication Required" window
// parented to the synchroniser's window, and xdotool typing into it.
#include "HearthkitUtil.h"
#include "HttpTestSupport.h"
#include "TestEnv.h"
#include "standins/webserver/WineLaunch.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cstdlib>
#include <thread>

using namespace hk::test;

namespace {

const wchar_t kDialogTitle[] = L"Authentication Required";

// A top-level window standing in for the synchroniser's.
struct SyncWindow {
    SyncWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.lpszClassName = L"HkLoginDialogTestParent";
        ::RegisterClassW(&wc);
        hwnd = ::CreateWindowW(wc.lpszClassName, L"Hoardcache", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                               200, nullptr, nullptr, nullptr, nullptr);
        HearthkitUtil::SetHCSyncWindowHandle(hwnd);
    }
    ~SyncWindow() {
        HearthkitUtil::SetHCSyncWindowHandle(nullptr);
        ::DestroyWindow(hwnd);
    }
    HWND hwnd;
};

// The typist, a Unix program, bounds itself with timeout(1).
bool StartTypist(const std::string& user, const std::string& password) {
    // "key" takes every argument after it as a key name (a lower-case letter
    // names itself); Tab moves to the password field.
    std::wstring keys;
    for (char c : user + "\t" + password) {
        keys += c == '\t' ? std::wstring(L" Tab") : std::wstring(L" ") + static_cast<wchar_t>(c);
    }
    std::wstring cmd = L"/usr/bin/timeout 60 /usr/bin/xdotool search --sync --onlyvisible --name \"" +
                       std::wstring(kDialogTitle) + L"\" windowfocus --sync sleep 0.5 key --delay 30" + keys +
                       L" Return";
    return webserver::StartUnix(cmd);
}

class RealLoginDialog : public ServerTest {};

TEST_F(RealLoginDialog, CredentialsTypedIntoWinInetsDialogAreSentAgain) {
    const char* display = std::getenv("HK_XVFB_DISPLAY");
    if (display == nullptr || *display == '\0') {
        GTEST_SKIP() << "Xvfb or xdotool is not installed (scripts/setup.sh installs both): WinINet's "
                        "credentials dialog needs a display and a typist";
    }
    Reply secret = Answer("welcome");
    secret.requireAuth = "Basic dXNlcjpwYXNz"; // user:pass
    Server().Route("/app/secret", secret);
    SyncWindow parent;
    EngineOnServer s(10000);
    CInternetSendDataBase engine(s.connect.get(), INTERNET_SCHEME_HTTP, "/app/", false);
    ASSERT_TRUE(StartTypist("user", "pass"));
    // A watchdog closes a dialog that nobody answered, so that a broken display
    // or typist turns into a failure instead of a hang.
    std::atomic<bool> done{false}, watchdogFired{false};
    std::thread watchdog([&] {
        for (int waited = 0; waited < 60000 && !done; waited += 100) {
            ::Sleep(100);
        }
        if (HWND dialog = done ? nullptr : ::FindWindowW(nullptr, kDialogTitle)) {
            watchdogFired = true;
            ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    ResponseDetails response;
    HRESULT hr = engine.GetDataFromServer("secret", &response);
    done = true;
    watchdog.join();
    int count = Server().Count();
    ASSERT_FALSE(watchdogFired) << "nobody answered the dialog within 60 s";
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(200u, response.dwStatusCode);
    EXPECT_EQ("welcome", Body(response)); // the 401's body went with Reset
    ASSERT_GE(count, 2);
    EXPECT_EQ("<none>", Server().Request(0).Header("Authorization"));
    EXPECT_EQ("Basic dXNlcjpwYXNz", Server().Request(count - 1).Header("Authorization"));
}

} // namespace
