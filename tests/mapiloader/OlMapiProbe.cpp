// A host that has Outlook's MAPI (olmapi32.dll) in the process before it
// loads Hearthkit.dll: the loader must bind to that module as it is.
//
//   hk_olmapi_probe.exe <olmapi32.dll to load first> <registered MAPI DLL>
//
// Exit code 0 when every check passed; otherwise the failed check is printed.
// Not linked to Hearthkit.dll: it is loaded here, after olmapi32.dll.
#include "FakeMapi.h"

#include <mapix.h>
#include <cstdio>

#define PROBE_CHECK(cond)                                                                                    \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::printf("line %d: failed: %s\n", __LINE__, #cond);                                           \
            return 1;                                                                                        \
        }                                                                                                    \
    } while (0)

template <typename Fn>
Fn* Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn*>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    PROBE_CHECK(argc == 3);
    HMODULE olmapi = ::LoadLibraryW(argv[1]);
    PROBE_CHECK(olmapi != nullptr);
    PROBE_CHECK(::GetModuleHandleW(L"olmapi32.dll") == olmapi);
    auto state = reinterpret_cast<FakeMapiStateFn>(Export<void()>(olmapi, "FakeMapiState"));
    PROBE_CHECK(state != nullptr);
    FakeMapiRecord* record = state();

    HMODULE hearthkit = ::LoadLibraryW(L"Hearthkit.dll");
    PROBE_CHECK(hearthkit != nullptr);
    auto allocate = Export<MAPIALLOCATEBUFFER>(hearthkit, "MAPIAllocateBuffer");
    auto freeBuffer = Export<MAPIFREEBUFFER>(hearthkit, "MAPIFreeBuffer");
    PROBE_CHECK(allocate != nullptr && freeBuffer != nullptr);

    void* buffer = nullptr;
    PROBE_CHECK(allocate(32, &buffer) == S_OK && buffer != nullptr);
    PROBE_CHECK(record->allocateBuffer == 1);
    PROBE_CHECK(freeBuffer(buffer) == 0);
    PROBE_CHECK(record->freeBuffer == 1 && record->lastFreed == buffer);

    // The registered DLL was not loaded.
    PROBE_CHECK(::GetModuleHandleW(argv[2]) == nullptr);

    // Hearthkit took no reference of its own: one release unloads it.
    PROBE_CHECK(::FreeLibrary(olmapi));
    PROBE_CHECK(::GetModuleHandleW(L"olmapi32.dll") == nullptr);
    std::printf("ok\n");
    return 0;
}
