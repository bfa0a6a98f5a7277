// MAPI profiles kept where and as MAPI keeps them: HKCU "...\Windows
// Messaging Subsystem\Profiles\<name>", one sub key per section named by
// its UID in lower-case hex, one REG_BINARY value per property named by its
// tag in eight lower-case hex digits. Nothing is cached: every call reads
// the registry, so a profile edited there is what the next call sees.
#pragma once

#include "Standin.h"

#include <functional>

namespace standin {

// Which store a provider serves.
enum StoreKind : LONG {
    StoreKindNone = 0,
    StoreKindPstUnicode = 1,
    StoreKindPstAnsi = 2,
    StoreKindShmsp = 3,
    StoreKindMailboxPrimary = 4,
    StoreKindMailboxDelegate = 5,
    StoreKindMailboxArchive = 6,
    StoreKindPublicFolders = 7,
};

namespace profile {

extern const wchar_t kRoot[];
extern const MAPIUID kGlobalSection;   // 13dbb0c8aa05101a9bb000aa002fc45a
extern const MAPIUID kServicesSection; // 9207f3e0a3b11019908b08002b2a56c2

bool Exists(const std::wstring& name);
// Exists, or deleted while sessions still use it: what the sessions' own
// service and provider administration keep working on, as MAPI's do.
bool Alive(const std::wstring& name);
HRESULT Create(const std::wstring& name);
// Deletes the profile now, or when its last session ends.
HRESULT Delete(const std::wstring& name);
std::vector<std::wstring> Names();
std::wstring DefaultName();
HRESULT SetDefault(const std::wstring& name);
// Sessions keep their profile alive past a deletion.
void SessionStarted(const std::wstring& name);
void SessionEnded(const std::wstring& name);

// A missing section reads as empty; a missing profile as MAPI_E_NOT_FOUND.
HRESULT ReadSection(const std::wstring& name, const MAPIUID& section, PropBag* bag);
HRESULT WriteProps(const std::wstring& name, const MAPIUID& section, const SPropValue* values, ULONG count);
HRESULT DeleteProp(const std::wstring& name, const MAPIUID& section, ULONG tag);
HRESULT DeleteSection(const std::wstring& name, const MAPIUID& section);
std::vector<MAPIUID> ReadUidList(const std::wstring& name, const MAPIUID& section, ULONG tag);
HRESULT WriteUidList(const std::wstring& name, const MAPIUID& section, ULONG tag,
                     const std::vector<MAPIUID>& uids);

// Appends a table row per listed section that can be read: its values with
// PR_INSTANCE_KEY (its UID) and PR_ROWID (the row's place in rows); extra,
// when given, adds the caller's own columns.
void AppendSectionRows(const std::wstring& name, const std::vector<MAPIUID>& sections,
                       std::vector<PropBag>* rows,
                       const std::function<void(const MAPIUID&, PropBag*)>& extra = nullptr);
// Whether the list (tag) of a section names uid.
bool Lists(const std::wstring& name, const MAPIUID& section, ULONG tag, const MAPIUID& uid);

} // namespace profile

// A PT_LONG value of the bag, or 0 when it is missing or of another type.
LONG LongOf(const PropBag& bag, ULONG tag);

// Message services the stand-in knows (its MAPISVC.INF).
struct ProviderDef {
    const wchar_t* dllName;
    const wchar_t* displayName;
    StoreKind kind;
    const BYTE* mdbProvider; // 16 bytes
};
struct ServiceDef {
    const wchar_t* name;
    const wchar_t* dllName;
    const wchar_t* displayName;
    std::vector<ProviderDef> providers;
};
const ServiceDef* FindService(const std::wstring& name);

// Adds a service of that def to the profile; returns its UID. Providers
// beyond the def's (delegate and archive mailboxes) are added with
// AddStoreProvider.
HRESULT AddService(const std::wstring& profile, const ServiceDef& def, const std::wstring& displayName,
                   MAPIUID* serviceUid);
HRESULT AddStoreProvider(const std::wstring& profile, const MAPIUID& serviceUid, const ServiceDef& def,
                         const ProviderDef& provider, MAPIUID* providerUid);
HRESULT RemoveService(const std::wstring& profile, const MAPIUID& serviceUid);

// Object factories (each returns a new reference).
IProfSect* CreateProfSect(const std::wstring& profile, const MAPIUID& section);
IMsgServiceAdmin* CreateServiceAdmin(const std::wstring& profile);
IProviderAdmin* CreateProviderAdmin(const std::wstring& profile, const MAPIUID& service);

// Store entry ids: the stand-in's own layout naming the provider section.
std::vector<BYTE> MakeStoreEntryId(const MAPIUID& provider);
bool ParseStoreEntryId(ULONG size, const ENTRYID* id, MAPIUID* provider);
// Opens the store a provider section describes (Store.cpp).
HRESULT OpenStore(const std::wstring& profile, const MAPIUID& provider, const PropBag& section, ULONG flags,
                  IMsgStore** out);
// IMAPISession::OpenEntry of a mail user (Mailbox.cpp).
HRESULT OpenMailUser(ULONG size, const ENTRYID* eid, ULONG* objType, LPUNKNOWN* out);
// Called when a service's providers receive configuration (a PST path
// creates its missing file).
HRESULT PrepareStore(const PropBag& providerSection);

} // namespace standin
