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
    StandinApi api;
    api.module = LoadLibraryW(StandinPath().c_str());
    if (!api.module)
        throw std::runtime_error("MapiStandin.dll does not load");
    Resolve(api.module, "MAPIAllocateBuffer", &api.AllocateBuffer);
    Resolve(api.module, "MAPIAllocateMore", &api.AllocateMore);
    Resolve(api.module, "MAPIFreeBuffer", &api.FreeBuffer);
    Resolve(api.module, "HrGetOneProp", &api.HrGetOneProp);
    Resolve(api.module, "FreeProws", &api.FreeProws);
    Resolve(api.module, "PpropFindProp", &api.PpropFindProp);
    Resolve(api.module, "HrQueryAllRows", &api.HrQueryAllRows);
    Resolve(api.module, "MAPILogonEx", &api.LogonEx);
    Resolve(api.module, "MAPIAdminProfiles", &api.AdminProfiles);
    Resolve(api.module, "MapiStandinFailCall", &api.FailCall);
    Resolve(api.module, "MapiStandinCallCount", &api.CallCount);
    Resolve(api.module, "MapiStandinLiveObjects", &api.LiveObjects);
    Resolve(api.module, "MapiStandinLiveBuffers", &api.LiveBuffers);
    Resolve(api.module, "MapiStandinReset", &api.Reset);
    Resolve(api.module, "MapiStandinRegister", &api.Register);
    Resolve(api.module, "MapiStandinCreateMailboxProfile", &api.CreateMailboxProfile);
    Resolve(api.module, "MapiStandinGetPstOverrideRegistration", &api.GetPstOverrideRegistration);
    Resolve(api.module, "MapiStandinPlayPstOverride", &api.PlayPstOverride);
    return api;
}

} // namespace

const StandinApi& Api() {
    static const StandinApi api = Load();
    return api;
}

void LeakCheckedTest::SetUp() {
    Api().Reset();
    m_objects = Api().LiveObjects();
    m_buffers = Api().LiveBuffers();
}

void LeakCheckedTest::TearDown() {
    Release();
    EXPECT_EQ(m_objects, Api().LiveObjects()) << "objects leaked";
    EXPECT_EQ(m_buffers, Api().LiveBuffers()) << "buffers leaked";
    Api().Reset();
}

} // namespace mapitest
