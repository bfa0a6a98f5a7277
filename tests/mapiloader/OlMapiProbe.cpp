// A host that has Outlook's MAPI (olmapi32.dll) in the process before it
// loads Hearthkit.dll (so it is not linked to it): the loader must bind to
// that module as it is.
//
//   hk_olmapi_probe.exe <olmapi32.dll to load first> <registered MAPI DLL>
//
// Exit code 0 when every check passed; otherwise the failed check is printed.
#include "FakeMapi.h"

#include <mapix.h>

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    CHECK_OR_FAIL(argc == 3);
    HMODULE olmapi = ::LoadLibraryW(argv[1]);
    CHECK_OR_FAIL(olmapi != nullptr && ::GetModuleHandleW(L"olmapi32.dll") == olmapi);
    auto state = Export<FakeMapiStateFn>(olmapi, "FakeMapiState");
    CHECK_OR_FAIL(state != nullptr);
    FakeMapiRecord* record = state();

    HMODULE hearthkit = ::LoadLibraryW(L"Hearthkit.dll");
    CHECK_OR_FAIL(hearthkit != nullptr);
    auto allocate = Export<LPMAPIALLOCATEBUFFER>(hearthkit, "MAPIAllocateBuffer");
    auto freeBuffer = Export<LPMAPIFREEBUFFER>(hearthkit, "MAPIFreeBuffer");
    void* buffer = nullptr;
    CHECK_OR_FAIL(allocate(32, &buffer) == S_OK && buffer != nullptr && record->allocateBuffer == 1);
    CHECK_OR_FAIL(freeBuffer(buffer) == 0 && record->freeBuffer == 1 && record->lastFreed == buffer);
    CHECK_OR_FAIL(::GetModuleHandleW(argv[2]) == nullptr); // the registered DLL stays unloaded

    // Hearthkit took no reference of its own: one release unloads it.
    CHECK_OR_FAIL(::FreeLibrary(olmapi) && ::GetModuleHandleW(L"olmapi32.dll") == nullptr);
    std::printf("ok\n");
    return 0;
}
