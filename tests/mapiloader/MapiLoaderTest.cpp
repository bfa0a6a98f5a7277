// The MAPI loader as a host process meets it: where it finds MAPI, what it
// does when MAPI is missing or incomplete, how the forwarding functions and
// owners behave without MAPI. The loader runs once, when Hearthkit.dll
// loads, so every case runs in a fresh process (a scenario) with Outlook's
// registration prepared by the test.
#include "MapiTestSupport.h"
#include "Scenario.h"

#include "MAPILoader.h"
#include "TidyMAPIBuffer.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <regex>

namespace {

using hk::test::FakeCopies;
using hk::test::FakeRecordAt;
using hk::test::OutlookRegistration;
using hk::test::ReportLoader;
using hk::test::RunScenario;

// --- where MAPI is found -----------------------------------------------------

// A fresh process's loader against what it should have made of DLLPathEx;
// error is a pattern.
void ExpectReport(const std::vector<std::wstring>& candidates, const char* loaded, const char* bound,
                  const char* reached, const char* error) {
    auto report = ReportLoader(candidates);
    EXPECT_EQ(loaded, report["loaded"]);
    EXPECT_EQ(bound, report["bound"]);
    EXPECT_EQ(reached, report["reached"]);
    EXPECT_TRUE(std::regex_match(report["lastError"], std::regex(error))) << report["lastError"];
}

TEST(MapiLoaderSources, DllPathExWhateverItsTypeAndEveryWayItFails) {
    const char noHandle[] = "Unable to acquire MAPI Handle - '[0-9]+'";
    FakeCopies fake(L"hk_fakemapi.dll", 1), shortFake(L"hk_fakemapi_short.dll", 1);
    OutlookRegistration outlook;
    ExpectReport({}, "0", "0", "-1", noHandle);
    outlook.SetBytes(L"DLLPathEx", ""); // a value without bytes counts as missing
    ExpectReport({}, "0", "0", "-1", noHandle);

    outlook.SetString(L"DLLPathEx", fake.Path(0));
    ExpectReport(fake.Paths(), "1", "36", "0", "");
    // An 8-bit path without a terminating zero, stored as binary.
    outlook.SetBytes(L"DLLPathEx", hk::test::Narrow(fake.Path(0)));
    ExpectReport(fake.Paths(), "1", "36", "0", "");
    // An expandable string is taken as it stands (not expanded).
    outlook.SetString(L"DLLPathEx", fake.Path(0), REG_EXPAND_SZ);
    ExpectReport(fake.Paths(), "1", "36", "0", "");

    outlook.SetString(L"DLLPathEx", fake.Missing());
    ExpectReport({}, "0", "0", "-1", "Unable to acquire MAPI Handle - '126'"); // ERROR_MOD_NOT_FOUND

    outlook.SetString(L"DLLPathEx", shortFake.Path(0));
    auto report = ReportLoader(shortFake.Paths());
    EXPECT_EQ("0", report["loaded"]);
    EXPECT_EQ("MAPI function 'MAPIOpenLocalFormContainer' not located|", report["lastError"]);
    EXPECT_EQ("0", report["bound"]) << "35 names resolved before the missing one must be dropped";
    EXPECT_EQ("1", report["present"]) << "the module stays loaded";
    EXPECT_EQ("-1", report["reached"]);
}

TEST(MapiLoaderSources, OlMapi32AlreadyInTheProcessIsUsedAsItIs) {
    FakeCopies olmapi(L"hk_fakemapi.dll", 1, L"olmapi32.dll");
    FakeCopies registered(L"hk_fakemapi.dll", 1);
    OutlookRegistration outlook;
    outlook.SetString(L"MSIComponentID", L"{00000000-0000-0000-0000-000000000000}");
    outlook.SetString(L"DLLPathEx", registered.Path(0));
    // The probe loads the copy named olmapi32.dll and only then Hearthkit.dll.
    auto result = hk::test::RunProgram(hk::test::BinDir() + L"\\hk_olmapi_probe.exe",
                                       {olmapi.Path(0), registered.Path(0)});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(0u, result.exitCode) << result.output;
}

// The binding order decides which missing name is reported first, and each
// forwarding function reads the slot of its own name.
TEST(MapiLoaderSources, BindsTheThirtySixNamesInTheirOrder) {
    std::string names;
    for (ULONG i = 0; i < MAPILoader::FunctionCount; ++i) {
        names += std::string(MAPILoader::FunctionName(i)) + " ";
    }
    EXPECT_EQ(
        "MAPIAllocateBuffer MAPIAllocateMore MAPIFreeBuffer HrGetOneProp FreeProws PpropFindProp "
        "ScDupPropset ScCountProps ScCopyProps OpenIMsgOnIStg MAPIGetDefaultMalloc CloseIMsgSession "
        "OpenIMsgSession HrQueryAllRows HrSetOneProp FreePadrlist LPropCompareProp WrapStoreEntryID "
        "CreateIProp CreateTable HrValidateParameters BuildDisplayTable HrValidateIPMSubtree "
        "HrDispatchNotifications UlRelease HexFromBin MAPIInitialize MAPIUninitialize OpenTnefStreamEx "
        "OpenStreamOnFile MAPIOpenFormMgr RTFSync WrapCompressedRTFStream MAPILogonEx MAPIAdminProfiles "
        "MAPIOpenLocalFormContainer ",
        names);
    EXPECT_EQ(nullptr, MAPILoader::FunctionName(MAPILoader::FunctionCount));
}

// --- the forwarding functions --------------------------------------------------

// Every forwarding function answers its fallback and leaves its arguments
// alone.
HK_SCENARIO(FallbacksWithoutMapi) {
    CHECK_OR_FAIL(!MAPILoader::Instance().IsLoaded());
    const auto junk = reinterpret_cast<void*>(0xdeadbeef);

    void* buffer = junk;
    CHECK_OR_FAIL(::MAPIAllocateBuffer(16, &buffer) == E_NOINTERFACE && buffer == junk);
    CHECK_OR_FAIL(::MAPIAllocateMore(16, junk, &buffer) == E_NOINTERFACE && buffer == junk);
    CHECK_OR_FAIL(::MAPIFreeBuffer(junk) == 0);

    auto prop = reinterpret_cast<LPSPropValue>(junk);
    auto rows = reinterpret_cast<LPSRowSet>(junk);
    auto session = reinterpret_cast<LPMAPISESSION>(junk);
    auto admin = reinterpret_cast<LPPROFADMIN>(junk);
    auto object = reinterpret_cast<LPMAPIPROP>(junk);
    CHECK_OR_FAIL(::HrGetOneProp(object, PR_DISPLAY_NAME_W, &prop) == E_NOINTERFACE && prop == junk);
    SPropValue props[2] = {};
    props[1].ulPropTag = PR_DISPLAY_NAME_W;
    CHECK_OR_FAIL(::PpropFindProp(props, 2, PR_DISPLAY_NAME_W) == nullptr);
    ::FreeProws(rows); // must not touch it
    CHECK_OR_FAIL(::HrQueryAllRows(reinterpret_cast<LPMAPITABLE>(junk), nullptr, nullptr, nullptr, 0,
                                   &rows) == E_NOINTERFACE &&
                  rows == junk);
    CHECK_OR_FAIL(::MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED, &session) == E_NOINTERFACE &&
                  session == junk);
    CHECK_OR_FAIL(::MAPIAdminProfiles(0, &admin) == E_NOINTERFACE && admin == junk);

    // An owner of a buffer still lets go of it quietly.
    { TidyMAPIBuffer<ENTRYID> owned(reinterpret_cast<LPENTRYID>(junk)); }
    return 0;
}

// An incomplete module binds no slot at all (MapiLoaderSources), so it
// falls back just as no module does.
TEST(MapiForwarding, FallbacksWhenNoModuleIsFound) {
    OutlookRegistration outlook;
    auto r = RunScenario("FallbacksWithoutMapi");
    EXPECT_EQ(0u, r.exitCode) << r.output;
}

// args[0]: the fake MAPI module the loader bound.
HK_SCENARIO(ForwardingReachesMapi) {
    CHECK_OR_FAIL(MAPILoader::Instance().IsLoaded());
    FakeMapiRecord* fake = FakeRecordAt(args.at(0));
    CHECK_OR_FAIL(fake != nullptr);
    auto u = [](const void* p) { return reinterpret_cast<ULONG_PTR>(p); };
    auto last = [&](std::initializer_list<ULONG_PTR> want) {
        return std::equal(want.begin(), want.end(), fake->lastArgs);
    };

    void* buffer = nullptr;
    CHECK_OR_FAIL(::MAPIAllocateBuffer(24, &buffer) == S_OK && buffer != nullptr);
    CHECK_OR_FAIL(fake->allocateBuffer == 1 && last({24, u(&buffer)}));
    void* more = nullptr;
    CHECK_OR_FAIL(::MAPIAllocateMore(8, buffer, &more) == S_OK && more != nullptr);
    CHECK_OR_FAIL(fake->allocateMore == 1 && last({8, u(buffer), u(&more)}));
    CHECK_OR_FAIL(::MAPIFreeBuffer(nullptr) == 0 && fake->freeBuffer == 0);
    CHECK_OR_FAIL(::MAPIFreeBuffer(buffer) == 0 && fake->freeBuffer == 1 && fake->lastFreed == buffer);

    LPSPropValue prop = nullptr;
    auto object = reinterpret_cast<LPMAPIPROP>(0x0B1EC7);
    CHECK_OR_FAIL(::HrGetOneProp(object, PR_DISPLAY_NAME_W, &prop) == kFakeResult);
    CHECK_OR_FAIL(fake->getOneProp == 1 && last({u(object), PR_DISPLAY_NAME_W, u(&prop)}));
    CHECK_OR_FAIL(::PpropFindProp(prop, 1, PR_DISPLAY_NAME_W) == prop);
    CHECK_OR_FAIL(fake->findProp == 1 && last({u(prop), 1, PR_DISPLAY_NAME_W}));
    ::MAPIFreeBuffer(prop);

    LPSRowSet rows = nullptr;
    auto table = reinterpret_cast<LPMAPITABLE>(0x7AB1E);
    SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_A}};
    auto restriction = reinterpret_cast<LPSRestriction>(0x5E57);
    auto sort = reinterpret_cast<LPSSortOrderSet>(0x5087);
    CHECK_OR_FAIL(::HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), restriction, sort, 50,
                                   &rows) == kFakeResult);
    CHECK_OR_FAIL(fake->queryAllRows == 1 &&
                  last({u(table), u(&columns), u(restriction), u(sort), 50, u(&rows)}));
    ::FreeProws(rows);
    CHECK_OR_FAIL(fake->freeProws == 1 && fake->lastFreed == rows);

    char profile[] = "Outlook", password[] = "";
    LPMAPISESSION session = nullptr;
    CHECK_OR_FAIL(::MAPILogonEx(0x4711, profile, password, MAPI_EXTENDED | MAPI_NEW_SESSION, &session) ==
                  kFakeResult);
    CHECK_OR_FAIL(fake->logonEx == 1 && u(session) == kFakeObject &&
                  last({0x4711, u(profile), u(password), MAPI_EXTENDED | MAPI_NEW_SESSION, u(&session)}));

    LPPROFADMIN admin = nullptr;
    CHECK_OR_FAIL(::MAPIAdminProfiles(0x2, &admin) == kFakeResult);
    CHECK_OR_FAIL(fake->adminProfiles == 1 && last({0x2, u(&admin)}) && u(admin) == kFakeObject);
    return 0;
}

TEST(MapiForwarding, CallsReachMapiWithArgumentsAndResultsUnchanged) {
    FakeCopies fake(L"hk_fakemapi.dll", 1);
    OutlookRegistration outlook;
    outlook.SetString(L"DLLPathEx", fake.Path(0));
    auto r = RunScenario("ForwardingReachesMapi", fake.Paths());
    EXPECT_EQ(0u, r.exitCode) << r.output;
}

} // namespace
