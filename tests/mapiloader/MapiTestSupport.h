// What the MAPI loader's tests share: Outlook's registration in the
// registry, copies of the fake MAPI DLL at paths of their own, and the
// report a fresh process gives of how its loader ended.
#pragma once

#include "FakeMapi.h"
#include "TestEnv.h"

#include <map>
#include <string>
#include <vector>

namespace hk {
namespace test {

extern const wchar_t kOutlookKey[];

// HKLM "Software\Clients\Mail\Microsoft Outlook", removed for the test and
// put back as it was afterwards. Values set here are what the next fresh
// process's loader reads.
class OutlookRegistration {
public:
    OutlookRegistration();
    OutlookRegistration(const OutlookRegistration&) = delete;
    OutlookRegistration& operator=(const OutlookRegistration&) = delete;

    void SetString(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
    void SetBytes(const wchar_t* name, const std::string& bytes, DWORD type = REG_BINARY);

private:
    RegistryKeyGuard m_guard;
};

// Copies of a fake MAPI DLL built beside the tests, each in a folder of its
// own under a temporary directory: Path(i) is "<temp>\<i>\<fileName>".
class FakeCopies {
public:
    FakeCopies(const wchar_t* builtName, int count, const wchar_t* fileName = L"fakemapi.dll");
    const std::wstring& Path(int index) const { return m_paths.at(index); }
    const std::vector<std::wstring>& Paths() const { return m_paths; }
    std::wstring Missing() const { return m_dir.File(L"missing\\fakemapi.dll"); }

private:
    TempDir m_dir;
    std::vector<std::wstring> m_paths;
};

// How a fresh process of this program found MAPI, given the candidate
// modules it may have bound to:
//   loaded     "1" when the loader bound all functions
//   lastError  the loader's text (a line end written as '|')
//   bound      how many of the 36 slots hold a function
//   reached    index of the candidate a forwarded MAPIAllocateBuffer reached, or -1
//   present    one '0'/'1' per candidate: is it loaded in the process
//   stubs      "mapi32.dll,mapistub.dll" loaded in the process afterwards, as '0'/'1' each
//   calls      the system stub's FGetComponentPath log (HK_FGCP_CALLS)
std::map<std::string, std::string> ReportLoader(const std::vector<std::wstring>& candidates,
                                                const std::vector<std::wstring>& extraEnv = {});

// The fake's own record, when the fake at path is loaded in this process.
FakeMapiRecord* FakeRecordAt(const std::wstring& path);

} // namespace test
} // namespace hk
