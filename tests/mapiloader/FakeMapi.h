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
    // Buffers handed out by MAPIAllocateBuffer and not freed yet.
    LONG liveBuffers;
    // The last buffer or row set freed.
    void* lastFreed;
    // The arguments of the last forwarded call, in order.
    ULONG_PTR lastArgs[6];
};

using FakeMapiStateFn = FakeMapiRecord*(WINAPI*)();

// Results the fake answers, so tests see them come back unchanged.
const HRESULT kFakeLogonResult = 0x00040380; // MAPI_W_ERRORS_RETURNED
const HRESULT kFakeQueryResult = 0x00040381;
const HRESULT kFakeAdminResult = 0x00040382;
const HRESULT kFakeGetPropResult = 0x00040383;
const ULONG_PTR kFakeSession = 0x5E5510;
const ULONG_PTR kFakeProfAdmin = 0xAD0120;
