// CDesktopPSTHelperBase: creates, opens, uses and deletes a personal folders
// file (PST) through MAPI without changing the user's profile for good.
//
// The helper works in a session the caller hands in, or in one of its own on
// a temporary profile ("Stowhaven_<thread id>_<random>", deleted right after
// the logon). OpenNamedPST adds a PST service to the session's profile,
// points it at the file, finds the store's entry id, opens the store and
// removes the service again while the store stays open.
//
//   class CCacheStore : public CDesktopPSTHelperBase { ... };
//   CCacheStore cache;                                 // own session
//   HRESULT hr = cache.OpenNamedPST(L"C:\\x.pst", CDesktopPSTHelperBase::CreateNew);
//   CComPtr<IMAPIFolder> root;
//   hr = cache.GetRootFolder(&root);
//   cache.ClosePST(true);
//
// Failures go to OnError and OnNoPSTServiceError; the base versions write a
// tagged line to the log and hand the failure back unchanged. One helper is
// not safe for concurrent use.
//
// Choices this class makes:
// - A copy owns a copy of the store entry id (never the same buffer) and
//   holds its own references on the session, the service administration and
//   the store.
// - OpenItemByEntryId without an open store answers E_FAIL, and an empty
//   entry id E_INVALIDARG (no bytes would name the store's root).
// - OpenNamedPST with an empty path answers E_INVALIDARG before the profile
//   is touched; a null path is E_POINTER, likewise, unless the helper is in
//   use (then the file it was configured with is opened again).
// - A temporary profile whose logon fails is deleted again before the
//   logon's failure is returned.
// - Temporary profile names are never made twice by one process: two
//   sessions made within one tick would otherwise share a profile.
// - A busy file is waited for in whole seconds; the wait ends at the first
//   try after 180 s (the tick count's wrap-around taken into account). A
//   stop event that cannot be waited on ends it at once with the wait's
//   error (HRESULT_FROM_WIN32 of GetLastError), logged.
// - Each OpenNamedPST adds a service of its own: it is configured afresh and
//   its store's entry id looked up anew (the id found for the service of an
//   earlier open is kept until then, and copied with the helper).
// - When the service just created cannot be told from the others in the
//   service table, the table is read once more and every service of that
//   kind that was not there before is removed (logged), before the handler
//   hears "[PFNF]".
// - The growth-policy callback only reaches helpers that still exist: every
//   helper is listed while it lives, and a callback whose client data names
//   no living helper, or a helper whose store is closed, is logged and
//   answered with 0 (no exemption). A callback in progress holds one
//   process-wide lock, which ClosePST and the destructor take too: the store
//   is never released under it.
#pragma once

#include "HearthkitExport.h"
#include "AutoPtrWithFreePolicy.h"
#include "HkCom.h"

#include <windows.h>
#include <mapix.h>
#include <string>

class HEARTHKIT_API CDesktopPSTHelperBase {
public:
    // How OpenNamedPST treats the file at the path.
    enum OpenMode {
        OpenExisting = 0,  // as it is, Unicode PST service
        CreateNew = 1,     // any file at the path deleted first, Unicode PST service
        CreateNewANSI = 2, // any file at the path deleted first, ANSI PST service
    };

    virtual ~CDesktopPSTHelperBase();
    CDesktopPSTHelperBase(const CDesktopPSTHelperBase& other);
    CDesktopPSTHelperBase& operator=(const CDesktopPSTHelperBase&) = delete;

    // A failure along the way: "<tag> 0x<hr>[, <detail>\n]" at LOG_ERROR.
    // Answers hr; a derived class may answer something else.
    virtual HRESULT OnError(HRESULT hr, const wchar_t* tag, const wchar_t* detail);
    // The PST service is not installed, or the one added was not found:
    // "0x<hr>[, <detail>]" at LOG_ERROR. Answers hr.
    virtual HRESULT OnNoPSTServiceError(HRESULT hr, const wchar_t* detail);

    // Logs on to a new temporary profile, which is deleted again right after
    // the logon; the session stays usable. Serialised across the process.
    // The caller owns the session handed out.
    static HRESULT OpenMAPISession(IMAPISession** out, bool newSession);

    // Adds a PST service, configures it with path, opens the store and
    // removes the service again (always, also after a failure); the store
    // stays open. With wait and a stop event, an open that MAPI refuses
    // because the file is busy (extended error, context 0x100D0201) is tried
    // again about once a second for up to 180 s until stopEvent is signalled.
    HRESULT OpenNamedPST(const wchar_t* path, bool wait, HANDLE stopEvent, OpenMode mode);
    HRESULT OpenNamedPST(const wchar_t* path, OpenMode mode);

    // Releases the store (and with releaseSession the session, the service
    // administration and the in-use state). True when a store was open.
    bool ClosePST(bool releaseSession);
    // ClosePST(true), then deletes the file last configured.
    HRESULT DeletePST();

    // The open store with a new reference; E_INVALIDARG for a null out,
    // E_FAIL when no store is open.
    HRESULT GetStore(IMsgStore** out);
    // The store's IPM subtree as a folder; E_INVALIDARG, E_FAIL as GetStore.
    HRESULT GetRootFolder(IMAPIFolder** out) const;
    // Opens a message of the store by its entry id in hexadecimal text.
    HRESULT OpenItemByEntryId(const wchar_t* hexEntryId, IMessage** out);

    bool IsUnicode() const;
    bool InUse() const;

    // Called (through the exported function of the same name) by the PST
    // provider when it offers the growth-policy exemption for store: asks
    // for it when store is this helper's own open store.
    HRESULT HrTrustedPSTOverrideHandlerCallback(IMsgStore* store, IUnknown* overrideSource);

protected:
    // attachSession: take session, or, when it is null, make a session of the
    // helper's own (OpenMAPISession with a new session).
    CDesktopPSTHelperBase(bool allowUI = false, bool attachSession = true, IMAPISession* session = nullptr,
                          bool ownSession = false);

    // E_FAIL when a session is attached already.
    HRESULT SetMAPISession(IMAPISession* session);

private:
    HRESULT AddService(bool unicode);
    HRESULT RemoveService();
    HRESULT ConfigurePST(const wchar_t* path);
    HRESULT OpenPST(OpenMode mode, const wchar_t* path, bool wait, HANDLE stopEvent);
    HRESULT FindStoreEntryID();
    HRESULT OpenMsgStore(ULONG_PTR uiParam, ULONG cbEntryID, ENTRYID* entryID, const GUID* iid, ULONG flags,
                         IMsgStore** out);
    HRESULT ConfigureMsgService(MAPIUID* uid, ULONG_PTR uiParam, ULONG flags, ULONG count,
                                SPropValue* values);
    HRESULT FixMAPIProfile();
    HRESULT HandlePSTDisableGrow();

    CComPtr<IMAPISession> m_pSession;
    bool m_bOwnSession = false;
    CComPtr<IMsgServiceAdmin> m_pServiceAdmin;
    CComPtr<IMsgStore> m_pStore;
    MAPIUID m_serviceUID = {};
    ULONG m_cbServiceUID = 0;
    std::wstring m_strPSTPath;
    bool m_bInUse = false;
    bool m_bAllowUI = false;
    bool m_bUnicode = false;
    ULONG m_cbStoreEntryID = 0;
    AutoPtrWithFreePolicy<ENTRYID, MAPIFreeBufferPolicy> m_pStoreEntryID; // found once, kept
};

// The growth-policy callback that the PST provider finds by name in the
// handler DLL: forwards to the helper at clientData. Any null argument: 0.
HEARTHKIT_C_API HRESULT HrTrustedPSTOverrideHandlerCallback(IMsgStore* store, IUnknown* overrideSource,
                                                            void* clientData);
