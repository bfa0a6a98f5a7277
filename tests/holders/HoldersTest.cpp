// The holder layer: ownership, self-assignment, formatting, registry types,
// and the result holder with the catch helper.
#include "Hearthkit.h"
#include "LoggedRun.h"
#include "Scenario.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

const wchar_t kTestKey[] = L"Software\\HearthkitTests\\Holders";

// A COM object that counts its references, to see every AddRef and Release.
struct CountedUnknown : IUnknown {
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(HoldersComPtr, CountsReferencesAcrossCopyMoveAndSelfAssignment) {
    CountedUnknown obj;
    {
        CComPtr<IUnknown> a(&obj);
        EXPECT_EQ(2, obj.refs);
        CComPtr<IUnknown> b(a);
        EXPECT_EQ(3, obj.refs);
        CComPtr<IUnknown> c(std::move(b));
        EXPECT_EQ(3, obj.refs);
        EXPECT_FALSE(b);
        a = a; // self-assignment keeps exactly one reference
        EXPECT_EQ(3, obj.refs);
        c = static_cast<IUnknown*>(a);
        EXPECT_EQ(3, obj.refs);
        IUnknown* raw = c.Detach();
        EXPECT_EQ(3, obj.refs);
        c.Attach(raw);
        EXPECT_EQ(3, obj.refs);
    }
    EXPECT_EQ(1, obj.refs);
}

TEST(HoldersComBstr, CopiesDeeplyAndSurvivesSelfAssignment) {
    CComBSTR a(L"mailbox");
    CComBSTR b(a);
    EXPECT_NE(static_cast<BSTR>(a), static_cast<BSTR>(b));
    a = a;
    a = static_cast<const wchar_t*>(a.m_str);
    EXPECT_STREQ(L"mailbox", a);
    EXPECT_EQ(0u, CComBSTR(static_cast<const wchar_t*>(nullptr)).Length());
}

TEST(HoldersUniqueAny, ClosesOnceAndTransfersOwnership) {
    hk::unique_handle a(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(a);
    HANDLE raw = a.get();
    hk::unique_handle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(raw, b.get());
    b = std::move(b);
    EXPECT_EQ(raw, b.get());
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(raw, &flags));
    *b.put() = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); // put() closes the old one first
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
}

TEST(HoldersString, FormatsSlicesAndComparesWithinBounds) {
    CStringW w;
    w.Format(L"%s|%S|%d|%08X|%s", L"wide", "narrow", -5, 0xBEEFu, std::wstring(3000, L'x').c_str());
    EXPECT_EQ(L"wide|narrow|-5|0000BEEF|" + std::wstring(3000, L'x'), w.GetString());
    CStringW s(L"Outlook.Application.16");
    EXPECT_EQ(19, s.ReverseFind(L'.'));
    EXPECT_STREQ(L"", s.Mid(99));
    EXPECT_STREQ(L"Outlook.Application.16", s.Left(500));
    EXPECT_STREQ(L"16", s.Right(2));
    EXPECT_EQ(0, CStringW(L"abc").CompareNoCase(L"ABC"));
    CStringW appended(L"a");
    appended += appended;
    EXPECT_STREQ(L"aa", appended);
    EXPECT_STREQ("plain", CStringA(L"plain"));
}

// Values of the wrong type are invalid, a short buffer learns the size
// needed, and trees are enumerated and deleted.
TEST(HoldersRegKey, TypesSizesAndTrees) {
    hk::test::RegistryKeyGuard guard{HKEY_CURRENT_USER, kTestKey};
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kTestKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"Text", L"42"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"Number", 42));
    DWORD number = 0xdeadbeef;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"Text", number));
    EXPECT_EQ(0xdeadbeefu, number);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"Number", number));
    EXPECT_EQ(42u, number);
    std::wstring text;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue(L"Number", text));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"Text", text));
    EXPECT_EQ(L"42", text);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryDWORDValue(L"Missing", number));

    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"Text", L"abcdef"));
    wchar_t small[3];
    ULONG chars = 3;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryStringValue(L"Text", small, &chars));
    EXPECT_GE(chars, 7u);
    wchar_t big[16];
    chars = 16;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"Text", big, &chars));
    EXPECT_STREQ(L"abcdef", big);
    EXPECT_EQ(7u, chars);

    for (const wchar_t* sub : {L"a", L"b\\deep\\deeper", L"c"}) {
        CRegKey child;
        ASSERT_EQ(ERROR_SUCCESS, child.Create(key, sub));
        child.SetDWORDValue(L"v", 1);
    }
    std::vector<std::wstring> names;
    ASSERT_EQ(ERROR_SUCCESS, key.EnumKeys(names));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c"}), names);
    EXPECT_NE(ERROR_SUCCESS, key.DeleteSubKey(L"b")); // has children
    EXPECT_EQ(ERROR_SUCCESS, key.RecurseDeleteKey(L"b"));
    key.EnumKeys(names);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c"}), names);
}

// What an operation's steps raise, as the catch helpers see it.
void Raise(int what) {
    CheckedHr check;
    check = S_FALSE;
    switch (what) {
    case 0:
        check = E_ACCESSDENIED;
        break;
    case 1:
        throw std::runtime_error("boom");
    case 2:
        throw std::bad_alloc();
    case 3:
        throw 42;
    }
}

// Each raise through both helpers: the quiet one's result, then the logging
// one's, which must agree.
HK_SCENARIO(CaughtResults) {
    for (int what = 0; what < 4; ++what) {
        CDesktopLog log("HoldersTest::Catch");
        HRESULT quiet = S_OK, logged = S_OK;
        try {
            Raise(what);
        } catch (...) {
            quiet = HkResultFromCaught(E_FAIL);
        }
        try {
            Raise(what);
        } catch (...) {
            logged = HkCaughtToHr(log, what == 0 ? "HoldersTest::Catch" : nullptr, E_FAIL);
        }
        std::printf("hr%d=%08lX %08lX\n", what, static_cast<unsigned long>(quiet),
                    static_cast<unsigned long>(logged));
    }
    return 0;
}

TEST(HoldersResult, MapsWhatWasCaughtAndLogsItOnce) {
    auto run = hk::test::RunLoggedScenario("CaughtResults", {}, LOG_ERROR);
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const char* expected[] = {"80070005 80070005", "80004005 80004005", "8007000E 8007000E",
                              "80004005 80004005"};
    for (int what = 0; what < 4; ++what) {
        EXPECT_EQ(expected[what], run.values["hr" + std::to_string(what)]) << what;
    }
    // One line for each exception, none for the int, between the file's first and last.
    EXPECT_NE(std::string::npos, run.log.find(": HoldersTest::Catch com_error: 0x80070005\r\n")) << run.log;
    EXPECT_NE(std::string::npos, run.log.find(": A std::exception has been caught: boom\r\n")) << run.log;
    EXPECT_NE(std::string::npos, run.log.find(": A std::exception has been caught: std::bad_alloc\r\n"))
        << run.log;
    EXPECT_EQ(5, std::count(run.log.begin(), run.log.end(), '\n')) << run.log;
}

// The platform's macro is the reference: success and HRESULTs pass as they
// are, other codes keep their low 16 bits.
TEST(HoldersResult, Win32ErrorsConvertAsThePlatformDoes) {
    for (DWORD code : {0ul, 5ul, 12002ul, 0x12345ul, 0x80004005ul, 0x8007000Eul, 0xFFFFFFFFul}) {
        EXPECT_EQ(HRESULT_FROM_WIN32(code), HkHResultFromWin32(code)) << std::hex << code;
    }
}

} // namespace
