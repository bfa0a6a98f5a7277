// What the tests' fake MAPI DLL (hk_fakemapi.dll) records: how often each
// forwarded function was called and the arguments of the last call. The DLL
// exports FakeMapiState() returning its own record; every copy of the DLL
// loaded from another path has a record of its own.
#pragma once

#include <windows.h>

#include <cstdio>

// Checks in a scenario or a probe process: the first failure ends it
// (exit code 1) with its line.
#define CHECK_OR_FAIL(cond)                                                                                  \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::printf("%s:%d: failed: %s\n", __FILE__, __LINE__, #cond);                                   \
            return 1;                                                                                        \
        }                                                                                                    \
    } while (0)

struct FakeMapiRecord {
    LONG allocateBuffer;
    LONG allocateMore;
    LONG freeBuffer;
    LONG getOneProp;
    LONG freeProws;
    LONG findProp;
    LONG queryAllRows;
    LONG logonEx;
    LONG adminProfiles;
    // The last buffer or row set freed.
    void* lastFreed;
    // The arguments of the last forwarded call, in order.
    ULONG_PTR lastArgs[6];
};

using FakeMapiStateFn = FakeMapiRecord*(WINAPI*)();

// What the fake answers (a warning, not S_OK) and hands out as an object,
// so tests see both come back unchanged.
const HRESULT kFakeResult = 0x00040380; // MAPI_W_ERRORS_RETURNED
const ULONG_PTR kFakeObject = 0x5E5510;
