// What the configuration's MAPI files share: the provider identities and the
// queries on a store's Inbox.
#pragma once

#include "HearthkitConfig.h"
#include "TidyRowSet.h"
#include "mapi/MapiExtras.h"

namespace hk {
namespace config {

// Exchange's store providers (PR_MDB_PROVIDER).
extern const BYTE kPrimaryMailboxProvider[16];
extern const BYTE kDelegateMailboxProvider[16];

// The kind of an Exchange mailbox store; 32 marks an archive mailbox.
const ULONG kPrMailboxKind = PROP_TAG(PT_LONG, 0x6806);
const LONG kArchiveMailboxKind = 32;

// The store's Inbox: the receive folder of the given message class (an
// empty class names the default one), opened with MAPI_BEST_ACCESS.
// Raises _com_error.
CComPtr<IMAPIFolder> OpenInbox(IMsgStore* store, const char* messageClass);

// The Inbox's associated messages of class messageClass (exact, 8-bit),
// with the given columns, sorted descending by sortTag unless it is 0.
// Raises _com_error.
void QueryHiddenMessages(IMAPIFolder* inbox, const char* messageClass, LPSPropTagArray columns, ULONG sortTag,
                         TidyRowSet& rows);

// The property tag of the product's named property name, created when
// missing, typed as type. Raises _com_error.
ULONG ProductNamedTag(IMAPIProp* object, const wchar_t* name, ULONG type);

// The newest Hoardlocal marker message of the store's Inbox, or *found
// false. Returns the first failure.
HRESULT FindHoardlocalMessage(IMsgStore* store, IMessage** message, bool* found);

// The store key name of session's default store. Raises _com_error.
void DeriveStoreKeyName(IMAPISession* session, CStringW& name);

// The configuration's lock (recursive). It serialises the first logon, the
// derivation of the store key, the first load of the settings and the
// update checks, and guards the shared session and the store key: whoever
// reads or changes m_pSession, m_szStoreRootKey or m_StoreKey holds it, and
// takes a reference or a copy before letting it go. Taken before the
// updated-settings lock, never while holding it.
CHkCriticalSection& ConfigLock();

// The key path a value of type lives under, as a copy of the caller's own:
// the store key path is copied under the lock, so a CloseDown on another
// thread cannot free it under the caller. Answers the derivation's failure.
HRESULT KeyPathFor(ConfigValueType type, std::wstring& path);

// The shared session with a reference of the caller's own; null without one.
CComPtr<IMAPISession> SharedSession();

} // namespace config
} // namespace hk
