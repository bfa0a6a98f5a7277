// What the PST tests share: a test profile with a session of its
// own, a helper that records the tags its handlers see, the growth policy,
// and scenarios whose log comes back as text.
#pragma once

#include "MapiStandin.h"
#include "Scenario.h"

#include <mapicode.h>
#include <mapitags.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace psttest {

// The extended error of a PST file still open elsewhere.
const ULONG kBusyContext = 0x100D0201;
void FailWithBusyStore(ULONG times, ULONG context = kBusyContext);

class TestHelper : public CDesktopPSTHelperBase {
public:
    explicit TestHelper(IMAPISession* session, bool ownSession = false, bool allowUI = false)
        : CDesktopPSTHelperBase(allowUI, true, session, ownSession) {}
    // Tags (and details) the handlers saw, "[TAG]" or "[TAG] detail".
    std::vector<std::wstring> seen;
    HRESULT OnError(HRESULT hr, const wchar_t* tag, const wchar_t* detail) override;
    HRESULT OnNoPSTServiceError(HRESULT hr, const wchar_t* detail) override;
    using CDesktopPSTHelperBase::SetMAPISession;
};

// Every test starts without faults, on a profile "HkPstTest" of its own with
// a session, and ends with every object and buffer of the stand-in freed.
class PstTest : public hk::test::MapiTest {
protected:
    void SetUp() override;
    void ReleaseAll() override;
    // PST services in the test profile.
    ULONG ServiceCount();
    // helper's store on a new file of the test's folder; null on failure.
    CComPtr<IMsgStore> OpenStore(CDesktopPSTHelperBase& helper, const wchar_t* file);

    CComPtr<IMAPISession> m_session;
    hk::test::TempDir m_dir{L"pst"};
};

// Outlook 16 as the host, and its PST policy values (an absent value is not
// written); both restored afterwards.
class GrowthPolicy {
public:
    GrowthPolicy();
    // Growth forbidden, and exemptions by signed handlers allowed.
    void AllowExemptions();
    // The value as a DWORD, or as its decimal text.
    void Set(const wchar_t* name, DWORD value, bool asString = false);

private:
    hk::test::RegistryKeyGuard m_version;
    hk::test::RegistryKeyGuard m_policy;
};

// Whether the log holds the record: the text after the header; one ending in
// "\n" is written with CR LF, one without runs into the next record.
bool HasRecord(const std::string& log, const std::string& record);

} // namespace psttest
