// The lines the helper and the exemption write, read back from the log of a
// fresh process.
#include "LoggedRun.h"
#include "PstTestEnv.h"

#include <memory>

namespace {

HK_SCENARIO(PstLogLines) {
    hk::test::TempDir dir(L"pstlines");
    CComPtr<IMAPISession> session;
    if (FAILED(CDesktopPSTHelperBase::OpenMAPISession(&session, true))) {
        return 1;
    }
    using Helper = psttest::TestHelper;
    MapiStandinFailCall("IMsgServiceAdmin::CreateMsgService", E_ACCESSDENIED, 1, nullptr);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    MapiStandinFailCall("IMsgServiceAdmin::CreateMsgService", MAPI_E_NOT_FOUND, 1, nullptr);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    Helper(session).OpenNamedPST(L"C:\\no such dir\\a.pst", CDesktopPSTHelperBase::OpenExisting);
    MapiStandinFailCall("IMsgServiceAdmin::ConfigureMsgService", E_ACCESSDENIED, 2, nullptr);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    psttest::FailWithBusyStore(2);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    psttest::FailWithBusyStore(2);
    HANDLE closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::CloseHandle(closed);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), true, closed, CDesktopPSTHelperBase::CreateNew);
    MapiStandinRowsWithoutValues(1, 1);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    MapiStandinReset();
    MapiStandinFailCall("IMAPISession::OpenMsgStore", MAPI_E_NOT_ENOUGH_MEMORY, 2, nullptr);
    Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    {
        psttest::GrowthPolicy policy;
        policy.Set(L"PstDisableGrow", 1);
        Helper(session).OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
        policy.Set(L"PSTDisableGrowAllowAuthenticodeOverrides", 1);
        Helper first(session), second(session);
        first.OpenNamedPST(dir.File(L"a.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
        second.OpenNamedPST(dir.File(L"b.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
        CComPtr<IMsgStore> store, other;
        first.GetStore(&store);
        second.GetStore(&other);
        BOOL exempted = FALSE;
        MapiStandinPlayPstOverride(store, &exempted);
        HrTrustedPSTOverrideHandlerCallback(other, store, &first);
        MapiStandinFailCall("IPSTOverrideReq::RegisterTrustedPSTOverrideHandler", E_ACCESSDENIED, 1, nullptr);
        Helper(session).OpenNamedPST(dir.File(L"c.pst").c_str(), CDesktopPSTHelperBase::CreateNew);
    }
    return 0;
}

TEST(PstLogLines, EveryFailureAndDecisionIsLoggedWithItsExactText) {
    hk::test::LoggedRun run = hk::test::RunLoggedScenario("PstLogLines");
    ASSERT_EQ(0u, run.result.exitCode) << run.result.output;
    const char* records[] = {
        "[CMS2] 0x80070005",
        "0x8004010F, [CMS1]",
        "ConfigureMsgService returned:\n",
        "    lpszError: The personal folders file could not be created.\n",
        "    lpszComponent: MapiStandin\n",
        "    ulLowLevelError: 0\n",
        "    ulContext: -2147024893\n",
        "[CMS3] 0x80004005, The personal folders file could not be created.\n",
        "ConfigureMsgService returned: 0x80070005\n",
        "[CMS3] 0x80070005, \n",
        "OpenPST::OpenMsgStore: The file is in use. - Personal Folders\n",
        "OpenPST::OpenMsgStore returned: 0x8007000E\n",
        "OpenPST: the stop event cannot be waited on: 0x80070006\n",
        "AddService: removing the PST service it could not identify: 0x0\n",
        "Unable to exempt PST's from PSTDisableGrow, make sure that "
        "'PSTDisableGrowAllowAuthenticodeOverrides' "
        "registry key has been set...\n",
        "PstDisableGrow and PSTDisableGrowAllowAuthenticodeOverrides keys are set...\n",
        "attempting to obtain Override interface...\n",
        "Override interface obtained successfully..\n",
        "Registration call was successful.\n",
        "entry ids match.attempting to obtain OVERRIDE interface\n",
        "OVERRIDE interface obtained successfully.calling exemption method..\n",
        "exemption call successful.\n",
        "There is a mismatch between the entry ids, PST will NOT be exempted from PSTDisableGrow..\n",
        "** Make sure you have a version of MSPST32.DLL that supports exemption of PSTDisableGrow and the "
        "Digital "
        "Certificate is in the Trust List **: 0x80070005\n",
    };
    for (const char* record : records) {
        EXPECT_TRUE(psttest::HasRecord(run.log, record)) << record;
    }
    EXPECT_NE(std::string::npos, run.log.find("calling Registration Handler with ")) << run.log;
}

} // namespace
