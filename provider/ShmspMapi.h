// What the provider configuration's files share: the MAPI tags and section
// UIDs it relies on (mingw's MAPI headers lack some), and the registry paths.
#pragma once

#include "CDesktopLog.h"
#include "HkRegKey.h"
#include "MAPILoader.h"

#include <functional>
#include <string>

namespace hk {
namespace provider {

// The provider's own property: the MDC path its instance serves.
const ULONG kTagMdcPath = 0x6700001F;
const ULONG kTagServiceName = 0x3D09001E;  // PR_SERVICE_NAME, 8-bit
const ULONG kTagServiceUid = 0x3D0C0102;   // PR_SERVICE_UID
const ULONG kTagProviderUid = 0x300C0102;  // PR_PROVIDER_UID
const ULONG kTagDisplayName = 0x3001001F;  // PR_DISPLAY_NAME_W
const ULONG kTagEntryId = 0x0FFF0102;      // PR_ENTRYID
const ULONG kTagProfileName = 0x3D12001F;  // PR_PROFILE_NAME_W
const ULONG kMapiForceAccess = 0x00080000; // MAPI_FORCE_ACCESS
const ULONG kOpenStoreFlags = 0x90;        // MAPI_BEST_ACCESS | MDB_NO_MAIL

extern const char kServiceName[]; // "SHMSP"
// MAPI's global profile section (13 DB B0 C8 AA 05 10 1A 9B B0 00 AA 00 2F C4 5A).
extern const MAPIUID kGlobalProfileSection;

// Raises E_POINTER, after a LOG_ERROR line naming what, when p is null: a
// session, admin object or out pointer the caller did not give.
void RequireNonNull(CDesktopLog& log, const void* p, const char* what);

// "<store key>\<MDC key>\Profiles".
std::wstring ProfilesKeyPath(const wchar_t* storeKey, const std::wstring& mdcKey);

// The profile UID of object (a session or a provider administration
// object) and the client store key path; false when either is missing.
bool ProfileUidAndStoreKey(IUnknown* object, std::wstring& uid, const wchar_t*& storeKey);

// Calls visit with every MDC key under the store key (by index until the
// enumeration ends) whose "Profiles" key opens, until visit answers true.
void VisitProfilesKeys(const wchar_t* storeKey,
                       const std::function<bool(const wchar_t* mdcKey, CRegKey& profiles)>& visit);

} // namespace provider
} // namespace hk
