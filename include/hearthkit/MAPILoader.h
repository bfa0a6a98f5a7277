// MAPILoader: the process's MAPI runtime, found and bound once when
// Hearthkit.dll is loaded, and the MAPI functions the library calls.
//
// The library is never linked against a MAPI import library. Include this
// header (it brings in mingw's <mapix.h> and <mapiutil.h>) and call MAPI by
// its own names; these nine are defined by Hearthkit.dll and exported under
// the same undecorated names:
//
//   SCODE         MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
//   SCODE         MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
//   ULONG         MAPIFreeBuffer(LPVOID lpBuffer);
//   HRESULT       HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
//   void          FreeProws(LPSRowSet lpRows);
//   LPSPropValue  PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);
//   HRESULT       HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
//                                LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
//                                LONG crowsMax, LPSRowSet* lppRows);
//   HRESULT       MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword,
//                             ULONG ulFlags, LPMAPISESSION* lppSession);
//   HRESULT       MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
//
// (all WINAPI, extern "C"). Each passes its arguments unchanged to the
// function of the same name in the MAPI module and returns its result. When
// MAPI could not be bound, each returns at once without touching any
// argument (out-parameters keep what the caller put there):
//   MAPIAllocateBuffer, MAPIAllocateMore, HrGetOneProp, HrQueryAllRows,
//   MAPILogonEx, MAPIAdminProfiles  -> 0x80004002 (E_NOINTERFACE)
//   MAPIFreeBuffer                  -> 0, nothing freed
//   PpropFindProp                   -> null
//   FreeProws                       -> nothing happens
// MAPIFreeBuffer(nullptr) answers 0 without calling MAPI in either state.
// Callers learn that MAPI is missing from these results; the library never
// initialises or uninitialises MAPI (the host has done so).
//
// The MAPI module is, in this order: an "olmapi32.dll" already loaded in the
// process (no reference of ours taken); the path that FGetComponentPath of
// mapi32.dll (or mapistub.dll) in the system directory gives for Outlook's
// "MSIComponentID", asked with the "MSIApplicationLCID" qualifier, then the
// "MSIOfficeLCID" one, then none; the "DLLPathEx" path. The values are read
// from HKLM "Software\Clients\Mail\Microsoft Outlook" (64-bit view) as raw
// 8-bit bytes. 36 MAPI functions must all resolve; if one is missing, none is
// used. A module loaded here stays loaded for the life of the process.
#pragma once

#include "HearthkitExport.h"
#include "HkLock.h"

#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <string>

class HEARTHKIT_API MAPILoader {
public:
    // Number of MAPI functions bound at load (all must resolve).
    static constexpr ULONG FunctionCount = 36;

    // The process's loader. Read-only, for diagnostics (hkdiag, tests): the
    // library's own operations never ask it anything.
    static const MAPILoader& Instance() noexcept;

    // True once all FunctionCount functions were bound.
    bool IsLoaded() const noexcept;
    // 8-bit text of the last loading failure; empty when loading succeeded.
    const char* LastError() const noexcept;

    // The exported name bound at position index (0-based, in binding
    // order), or null past the end.
    static const char* FunctionName(ULONG index) noexcept;
    // Whether the function at position index is bound to the MAPI module.
    static bool IsBound(ULONG index) noexcept;

    MAPILoader(const MAPILoader&) = delete;
    MAPILoader& operator=(const MAPILoader&) = delete;

private:
    // Built once, as the last static object of Hearthkit.dll; binds MAPI.
    MAPILoader() noexcept;
    ~MAPILoader() = default;

    void Load() noexcept;
    void Reset() noexcept;

    static MAPILoader s_instance;

    // Serialises loading and resetting.
    CHkCriticalSection lock;
    bool loaded;
    std::string lastError;
};
