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

// The same, after `skip` more calls of `callName` have gone through
// untouched (skip 1: the second call from now fails).
MAPISTANDIN_API void WINAPI MapiStandinFailCallAfter(const char* callName, ULONG skip, HRESULT hr,
                                                     ULONG times, const MapiStandinError* error);

// Holds the next call of `callName` up for `ms` milliseconds once it is
// counted, before it does anything (other calls go on meanwhile).
MAPISTANDIN_API void WINAPI MapiStandinDelayCall(const char* callName, DWORD ms);

// Faults a working provider never shows, for tests of the callers' checks
// (MapiStandinReset ends both):
// - after the next `skip` calls of IMAPITable::QueryRows (HrQueryAllRows
//   included), the `times` calls that follow answer their rows without
//   values (cValues 0, lpProps null);
// - attachment data streams opened from now on report `bytes` as their size
//   in Stat, whatever they hold (0: their true size again).
MAPISTANDIN_API void WINAPI MapiStandinRowsWithoutValues(ULONG skip, ULONG times);
MAPISTANDIN_API void WINAPI MapiStandinClaimStreamSize(ULONGLONG bytes);

// How often `callName` was called since the last reset (failed calls
// included).
MAPISTANDIN_API ULONG WINAPI MapiStandinCallCount(const char* callName);

// The flags argument of the index-th call (from 0) of `callName` since the
// last reset, or of the last one; kMapiStandinNoCall when there was none.
// Kept for the calls whose flags choose access or behaviour: "MAPILogonEx",
// "IMAPISession::OpenMsgStore", "IMsgServiceAdmin::CreateMsgService",
// "IMsgServiceAdmin::ConfigureMsgService", every "...::OpenEntry",
// "...::OpenProperty" and "...::OpenProfileSection".
const ULONG kMapiStandinNoCall = 0xFFFFFFFF;
MAPISTANDIN_API ULONG WINAPI MapiStandinCallFlags(const char* callName, ULONG index);
MAPISTANDIN_API ULONG WINAPI MapiStandinLastFlags(const char* callName);

// Objects handed out by the stand-in and not yet freed (sessions, admin
// objects, tables, profile sections, stores, folders, messages, streams).
MAPISTANDIN_API LONG WINAPI MapiStandinLiveObjects(void);

// Buffers from MAPIAllocateBuffer not yet freed.
MAPISTANDIN_API LONG WINAPI MapiStandinLiveBuffers(void);

// MAPIFreeBuffer calls, since the stand-in was loaded, whose pointer was no
// live MAPIAllocateBuffer buffer: one freed already, one hung on a parent
// with MAPIAllocateMore, or one MAPI never handed out. Such a call frees
// nothing. Not reset by MapiStandinReset.
MAPISTANDIN_API LONG WINAPI MapiStandinBadFrees(void);

// Forgets every fault, delay, count and flag (live counters are not reset:
// they count what exists).
MAPISTANDIN_API void WINAPI MapiStandinReset(void);

// Writes HKLM "Software\Clients\Mail\Microsoft Outlook" "DLLPathEx" (REG_SZ)
// = dllPath, or the stand-in's own file when dllPath is null, so that the
// library's loader finds the stand-in. Returns the registry result as an
// HRESULT.
MAPISTANDIN_API HRESULT WINAPI MapiStandinRegister(const wchar_t* dllPath);

// What MapiStandinCreateMailboxProfile builds.
struct MapiStandinMailbox {
    const wchar_t* account;     // PR_ACCOUNT of the mailbox owner
    const wchar_t* displayName; // the primary store's and the owner's name
    const char* homeServer;     // PR_PROFILE_HOME_SERVER of the global section, may be null
    BOOL delegateStore;         // add a delegate mailbox store ("Delegate")
    BOOL archiveStore;          // add an archive store (delegate provider, 0x68060003 = 32)
    BOOL makeDefaultProfile;    // make the profile MAPI's default profile
};

// (Re)creates `profile` with an Exchange-like mailbox service: the primary
// mailbox store (the default store, with PR_USER_ENTRYID naming the owner),
// the public folders store, and the stores asked for. Each store keeps its
// content in a file of its own, so content written in one process is seen
// by the next.
MAPISTANDIN_API HRESULT WINAPI MapiStandinCreateMailboxProfile(const wchar_t* profile,
                                                               const MapiStandinMailbox* mailbox);

// The growth-policy override handler registered on a PST store (through
// its {892EBC6D-24DC-4D90-BA48-C6CBEC14A86A} interface): copies the DLL
// path into `path` (cch characters) and the client data into *clientData.
// S_FALSE when none was registered.
MAPISTANDIN_API HRESULT WINAPI MapiStandinGetPstOverrideRegistration(IUnknown* store, wchar_t* path,
                                                                     ULONG cch, void** clientData);

// Plays MSPST32: loads the handler registered on the store by its path,
// calls its exported HrTrustedPSTOverrideHandlerCallback(store, an object
// offering {FBB68D34-F561-44FB-A8CA-AE36696342CA}, the client data), and
// tells whether the exemption method was called. Returns the callback's
// result (MAPI_E_NOT_FOUND when nothing is registered or the export is
// missing).
MAPISTANDIN_API HRESULT WINAPI MapiStandinPlayPstOverride(IUnknown* store, BOOL* exemptionCalled);
