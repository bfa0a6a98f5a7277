// What the provider configuration's files share: the provider's own property,
// the service name and the registry paths.
#pragma once

#include "CDesktopLog.h"
#include "HkRegKey.h"
#include "MAPILoader.h"
#include "mapi/MapiExtras.h"

#include <functional>
#include <string>

namespace hk {
namespace provider {

// The provider's own property: the MDC path its instance serves.
const ULONG kTagMdcPath = PROP_TAG(PT_UNICODE, 0x6700);

extern const char kServiceName[]; // "SHMSP"

// Raises E_POINTER, after a LOG_ERROR line naming what, when p is null: a
// session, admin object or out pointer the caller did not give.
void RequireNonNull(CDesktopLog& log, const void* p, const char* what);

// "<store key>\<MDC key>\Profiles".
std::wstring ProfilesKeyPath(const wchar_t* storeKey, const std::wstring& mdcKey);

// The profile UID of object (a session or a provider administration
// object) and the client store key path; false when either is missing.
bool ProfileUidAndStoreKey(IUnknown* object, std::wstring& uid, std::wstring& storeKey);

// Calls visit with every MDC key under the store key (by index until the
// enumeration ends) whose "Profiles" key opens, until visit answers true.
void VisitProfilesKeys(const wchar_t* storeKey,
                       const std::function<bool(const wchar_t* mdcKey, CRegKey& profiles)>& visit);

} // namespace provider
} // namespace hk
