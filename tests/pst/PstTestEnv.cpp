#include "PstTestEnv.h"

#include <cctype>

namespace psttest {
namespace {

char kProfile[] = "HkPstTest";
const wchar_t kPolicyKey[] = L"Software\\Policies\\Microsoft\\Office\\16.0\\Outlook\\PST";

std::wstring Tagged(const wchar_t* tag, const wchar_t* detail) {
    return std::wstring(tag) + (detail && *detail ? L" " + std::wstring(detail) : L"");
}

} // namespace

void FailWithBusyStore(ULONG times, ULONG context) {
    MapiStandinError busy = {L"The file is in use.", L"Personal Folders", 32, context};
    MapiStandinFailCall("IMAPISession::OpenMsgStore", MAPI_E_EXTENDED_ERROR, times, &busy);
}

HRESULT TestHelper::OnError(HRESULT hr, const wchar_t* tag, const wchar_t* detail) {
    seen.push_back(Tagged(tag, detail));
    return CDesktopPSTHelperBase::OnError(hr, tag, detail);
}

HRESULT TestHelper::OnNoPSTServiceError(HRESULT hr, const wchar_t* detail) {
    seen.push_back(Tagged(detail, nullptr));
    return CDesktopPSTHelperBase::OnNoPSTServiceError(hr, detail);
}

void PstTest::SetUp() {
    MapiTest::SetUp();
    if (HasFatalFailure()) {
        return;
    }
    ReleaseAll(); // a profile left by an earlier run
    CComPtr<IProfAdmin> admin;
    ASSERT_EQ(S_OK, MAPIAdminProfiles(0, &admin));
    ASSERT_EQ(S_OK, admin->CreateProfile(kProfile, nullptr, 0, 0));
    ASSERT_EQ(S_OK, MAPILogonEx(0, kProfile, nullptr, MAPI_NEW_SESSION, &m_session));
}

void PstTest::ReleaseAll() {
    m_session.Release();
    CComPtr<IProfAdmin> admin;
    if (SUCCEEDED(MAPIAdminProfiles(0, &admin))) {
        admin->DeleteProfile(kProfile, 0);
    }
}

ULONG PstTest::ServiceCount() {
    CComPtr<IMsgServiceAdmin> admin;
    CComPtr<IMAPITable> table;
    ULONG count = 0xdeadbeef;
    EXPECT_EQ(S_OK, m_session->AdminServices(0, &admin));
    EXPECT_EQ(S_OK, admin->GetMsgServiceTable(0, &table));
    EXPECT_EQ(S_OK, table->GetRowCount(0, &count));
    return count;
}

CComPtr<IMsgStore> PstTest::OpenStore(CDesktopPSTHelperBase& helper, const wchar_t* file) {
    CComPtr<IMsgStore> store;
    EXPECT_EQ(S_OK, helper.OpenNamedPST(m_dir.File(file).c_str(), CDesktopPSTHelperBase::CreateNew));
    EXPECT_EQ(S_OK, helper.GetStore(&store));
    return store;
}

void GrowthPolicy::AllowExemptions() {
    Set(L"PstDisableGrow", 1);
    Set(L"PSTDisableGrowAllowAuthenticodeOverrides", 1);
}

GrowthPolicy::GrowthPolicy()
    : m_version(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Outlook.Application"),
      m_policy(HKEY_CURRENT_USER, kPolicyKey) {
    CRegKey version;
    EXPECT_EQ(ERROR_SUCCESS,
              version.Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Outlook.Application\\CurVer"));
    EXPECT_EQ(ERROR_SUCCESS, version.SetStringValue(nullptr, L"Outlook.Application.16"));
}

void GrowthPolicy::Set(const wchar_t* name, DWORD value, bool asString) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kPolicyKey));
    EXPECT_EQ(ERROR_SUCCESS, asString ? key.SetStringValue(name, std::to_wstring(value).c_str())
                                      : key.SetDWORDValue(name, value));
}

bool HasRecord(const std::string& log, const std::string& record) {
    if (!record.empty() && record.back() == '\n') {
        return log.find(": " + record.substr(0, record.size() - 1) + "\r\n") != std::string::npos;
    }
    // A text without a line end runs into the next record's date.
    size_t at = log.find(": " + record);
    return at != std::string::npos && at + 2 + record.size() < log.size() &&
           std::isdigit(static_cast<unsigned char>(log[at + 2 + record.size()]));
}

} // namespace psttest
