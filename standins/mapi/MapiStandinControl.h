// Control surface of the MAPI stand-in (MapiStandin.dll). Tests and the
// prefix preparation use these exports; the library itself never does: it
// reaches the stand-in only through the MAPI names, found by the loader's
// registry lookup ("DLLPathEx").
//
// Call names used by the fault and count functions are the MAPI function
// names ("MAPILogonEx", "HrQueryAllRows") and, for interface methods,
// "Interface::Method" ("IMAPISession::OpenMsgStore",
// "IMsgServiceAdmin::CreateMsgService", "IProfAdmin::DeleteProfile").
#pragma once

#include <windows.h>

#ifdef MAPISTANDIN_BUILDING
#define MAPISTANDIN_API extern "C" __declspec(dllexport)
#else
#define MAPISTANDIN_API extern "C" __declspec(dllimport)
#endif

// The extended error that a failed call leaves for GetLastError.
struct MapiStandinError {
    const wchar_t* error;     // lpszError, may be null
    const wchar_t* component; // lpszComponent, may be null
    ULONG lowLevelError;      // ulLowLevelError
    ULONG context;            // ulContext, e.g. 0x100D0201
};

// Makes the next `times` calls of `callName` fail with `hr` (nothing else
// happens in those calls; out-parameters are left as the caller set them).
// `error`, when given, is what GetLastError of the called object (and of
// the session) reports afterwards. A later call for the same name replaces
// the earlier one; times 0 removes it.
MAPISTANDIN_API void WINAPI MapiStandinFailCall(const char* callName, HRESULT hr, ULONG times,
                                                const MapiStandinError* error);

// How often `callName` was called since the last reset (failed calls
// included).
MAPISTANDIN_API ULONG WINAPI MapiStandinCallCount(const char* callName);

// Objects handed out by the stand-in and not yet freed (sessions, admin
// objects, tables, profile sections, stores, folders, messages, streams).
MAPISTANDIN_API LONG WINAPI MapiStandinLiveObjects(void);

// Buffers from MAPIAllocateBuffer not yet freed.
MAPISTANDIN_API LONG WINAPI MapiStandinLiveBuffers(void);

// Forgets every fault and count (live counters are not reset: they count
// what exists).
MAPISTANDIN_API void WINAPI MapiStandinReset(void);

// Writes HKLM "Software\Clients\Mail\Microsoft Outlook" "DLLPathEx" (REG_SZ)
// = dllPath, or the stand-in's own file when dllPath is null, so that the
// library's loader finds the stand-in. Returns the registry result as an
// HRESULT.
MAPISTANDIN_API HRESULT WINAPI MapiStandinRegister(const wchar_t* dllPath);
