#include "MapiStandinFixture.h"

#include "TestEnv.h"

#include <stdexcept>

namespace mapitest {

std::wstring StandinPath() {
    return hk::test::BinDir() + L"\\MapiStandin.dll";
}

namespace {

template <class F>
void Resolve(HMODULE module, const char* name, F* slot) {
    *slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*slot)
        throw std::runtime_error(std::string("missing export ") + name);
}

StandinApi Load() {
    if (FAILED(RegisterForChildren()))
        throw std::runtime_error("MapiStandin.dll cannot be loaded or registered");
    StandinApi api;
    api.module = GetModuleHandleW(StandinPath().c_str());
    Resolve(api.module, "MapiStandinFailCall", &api.FailCall);
    Resolve(api.module, "MapiStandinCallCount", &api.CallCount);
    Resolve(api.module, "MapiStandinLiveObjects", &api.LiveObjects);
    Resolve(api.module, "MapiStandinLiveBuffers", &api.LiveBuffers);
    Resolve(api.module, "MapiStandinReset", &api.Reset);
    Resolve(api.module, "MapiStandinRegister", &api.Register);
    Resolve(api.module, "MapiStandinCreateMailboxProfile", &api.CreateMailboxProfile);
    Resolve(api.module, "MapiStandinGetPstOverrideRegistration", &api.GetPstOverrideRegistration);
    Resolve(api.module, "MapiStandinPlayPstOverride", &api.PlayPstOverride);

    // A program that imports Hearthkit.dll has it loaded already: then the
    // stand-in must have been registered before the process started (a
    // scenario child of a registering parent), which the probe below checks.
    api.library = GetModuleHandleW(L"Hearthkit.dll");
    if (!api.library)
        api.library = LoadLibraryW((hk::test::BinDir() + L"\\Hearthkit.dll").c_str());
    if (!api.library)
        throw std::runtime_error("Hearthkit.dll does not load");
    Resolve(api.library, "MAPIAllocateBuffer", &api.AllocateBuffer);
    Resolve(api.library, "MAPIAllocateMore", &api.AllocateMore);
    Resolve(api.library, "MAPIFreeBuffer", &api.FreeBuffer);
    Resolve(api.library, "HrGetOneProp", &api.HrGetOneProp);
    Resolve(api.library, "FreeProws", &api.FreeProws);
    Resolve(api.library, "PpropFindProp", &api.PpropFindProp);
    Resolve(api.library, "HrQueryAllRows", &api.HrQueryAllRows);
    Resolve(api.library, "MAPILogonEx", &api.LogonEx);
    Resolve(api.library, "MAPIAdminProfiles", &api.AdminProfiles);
    Resolve(api.library, "_ZN10MAPILoader12FunctionNameEm", &api.LoaderFunctionName);

    // The library's MAPI is the stand-in: a buffer allocated through it is
    // one of the stand-in's.
    const LONG before = api.LiveBuffers();
    void* probe = nullptr;
    const bool reached = SUCCEEDED(api.AllocateBuffer(8, &probe)) && api.LiveBuffers() == before + 1;
    api.FreeBuffer(probe);
    if (!reached)
        throw std::runtime_error("the library's loader did not bind the stand-in (Hearthkit.dll loaded "
                                 "before the stand-in was registered?)");
    return api;
}

} // namespace

HRESULT RegisterForChildren() {
    static hk::test::RegistryKeyGuard outlook(HKEY_LOCAL_MACHINE,
                                              L"Software\\Clients\\Mail\\Microsoft Outlook");
    HMODULE module = LoadLibraryW(StandinPath().c_str());
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());
    decltype(&MapiStandinRegister) reg = nullptr;
    Resolve(module, "MapiStandinRegister", &reg);
    return reg(nullptr);
}

const StandinApi& Api() {
    static const StandinApi api = Load();
    return api;
}

const wchar_t kProfiles[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
MAPIUID kGlobalSection = {
    {0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};

Match::Match(ULONG tag, ULONG op, ULONG rt) {
    value.ulPropTag = tag;
    r.rt = rt;
    if (rt == RES_CONTENT)
        r.res.resContent = {op, tag, &value};
    else
        r.res.resProperty = {op, tag, &value};
}

HRESULT QueryAll(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* r, Rows* rows,
                 SSortOrderSet* sort, LONG maxRows) {
    std::vector<ULONG> tags{static_cast<ULONG>(columns.size())};
    tags.insert(tags.end(), columns.begin(), columns.end());
    return Api().HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(tags.data()), r, sort, maxRows,
                                rows->put());
}

void LeakCheckedTest::SetUp() {
    Api().Reset();
    m_objects = Api().LiveObjects();
    m_buffers = Api().LiveBuffers();
}

void LeakCheckedTest::TearDown() {
    if (IsSkipped())
        return;
    Release();
    EXPECT_EQ(m_objects, Api().LiveObjects()) << "objects leaked";
    EXPECT_EQ(m_buffers, Api().LiveBuffers()) << "buffers leaked";
    Api().Reset();
}

} // namespace mapitest
