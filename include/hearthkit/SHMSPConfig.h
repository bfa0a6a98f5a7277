// SHMSPConfig: the SHMSP provider service ("SHMSP", "SHMSP.DLL") in the
// user's MAPI profiles, the per-profile markers that remember where it is
// configured, and the clean-up of MAPI's profile registry without a session.
//
// A service instance is known by its MDC path (the provider's profile
// property 0x6700001F, compared ignoring case), never by its display name.
// With several instances of one MDC path, the first in service-table order
// is the one acted on.
//
// Errors: every failing MAPI call is raised to the caller as _com_error with
// its HRESULT (MAPI_E_NOT_FOUND where an instance or its store cannot be
// found); nothing is caught here. A null session, admin object or out
// pointer raises E_POINTER before anything is done, except for the profile
// markers below, which take a null object as "no profile UID". Registry
// failures end quietly with the default answer (SHMSPProfileConfigNone,
// false, nothing changed).
#pragma once

#include "HearthkitExport.h"
#include "MAPILoader.h"

#include <windows.h>
#include <string>

// A profile's configuration record for one MDC file, kept as a REG_DWORD
// named after the profile UID under "<store key>\<MDC key>\Profiles".
enum SHMSPProfileConfig : unsigned int {
    SHMSPProfileConfigOff = 0,  // DWORD 0: the user turned it off here
    SHMSPProfileConfigOn = 1,   // DWORD 1
    SHMSPProfileConfigNone = 2, // no value (or an unreadable one)
};

class HEARTHKIT_API SHMSPConfig {
public:
    // ---- Provider services in a profile --------------------------------

    // The "SHMSP" services of the admin object's profile: one column,
    // PR_SERVICE_UID, one row per service in table order. The caller frees
    // the set with FreeProws (TidyRowSet).
    static void GetSHMSPServices(IMsgServiceAdmin* admin, SRowSet** rows);
    // The service UID of the first instance serving mdcPath; uid is written
    // only when the answer is true. A service whose provider table does not
    // hold exactly one "SHMSP" provider is never matched.
    static bool GetSHMSPServiceUID(IMsgServiceAdmin* admin, const std::wstring& mdcPath, MAPIUID* uid);
    // Rows of GetSHMSPServices, error-typed rows included.
    static unsigned long NumSHMSPServicesInProfile(IMAPISession* session);
    static bool SHMSPServiceExists(IMAPISession* session, const std::wstring& mdcPath);
    // Adds and configures an instance for mdcPath unless one exists (in any
    // letter case), then sets the record of mdcKey On. An instance created
    // here stays when a later step fails.
    static void AddSHMSPService(IMAPISession* session, const std::wstring& mdcKey,
                                const std::wstring& mdcPath, const std::wstring& displayName);
    // Deletes the instance of mdcPath (when there is one) and, unless
    // keepConfig or the record says Off, removes the record of mdcKey.
    static void RemoveSHMSPService(IMAPISession* session, const std::wstring& mdcKey,
                                   const std::wstring& mdcPath, bool keepConfig);
    // Deletes every instance; with forgetProfile also this profile's records
    // of every MDC key.
    static void RemoveAllSHMSPServices(IMAPISession* session, bool forgetProfile);
    // Renames the instance of mdcPath; nothing happens when there is none.
    static void SetSHMSPServiceDisplayName(IMAPISession* session, const std::wstring& mdcPath,
                                           const std::wstring& displayName);
    // Opens the store of the instance of mdcPath; the caller owns *store.
    static void OpenSHMSPMsgStore(IMAPISession* session, const std::wstring& mdcPath, IMsgStore** store);

    // ---- Profile markers ----------------------------------------------

    // The profile's UID (PR_SERVICE_UID of the global profile section) as
    // upper-case hex. object is a session or a provider administration
    // object; anything else raises E_NOINTERFACE. False when there is no
    // object, no section or no readable UID.
    static bool GetProfileUID(IUnknown* object, std::wstring& uid);
    // True when any MDC key under the store key holds a record for this
    // profile, whatever its value (Off counts).
    static bool IsSHMSPConfiguredInProfile(IMAPISession* session);
    static SHMSPProfileConfig GetSHMSPProfileConfiguration(IMAPISession* session, const std::wstring& mdcKey);
    // Writes (On, Off) or removes (None) the record; object as GetProfileUID.
    static void SetSHMSPProfileConfiguration(IUnknown* object, const std::wstring& mdcKey,
                                             const SHMSPProfileConfig& config);
    // The profile-name list "HoardviewConfiguredProfiles" ("\" between
    // names, compared case-sensitively).
    static bool IsSHMSPConfiguredInProfileV8SP3(IMAPISession* session);
    static void SetSHMSPConfiguredInProfileV8SP3(IMAPISession* session, bool configured);

    // ---- Registry clean-up ---------------------------------------------

    // Strips the SHMSP services and store providers out of every profile
    // under HKCU "...\Windows Messaging Subsystem\Profiles" and removes the
    // client "Profiles" keys of their MDC files. Always true.
    static bool RemoveSHMSPFromRegistryProfiles();
    // One pass over one profile: the UIDs of listValue ("01023d0e" services,
    // "01023d00" store providers) whose section names "SHMSP.DLL" in
    // dllValue are dropped from the list and their sections deleted, each
    // with whatever sub keys it holds (none is left behind without a list
    // entry).
    static void RemoveSHMSPFromRegistryProfile(const std::wstring& profile, const std::wstring& listValue,
                                               const std::wstring& dllValue);

private:
    // Deletes "SOFTWARE\Talvo\Stowhaven\Client\<parent dir>\<base name>\Profiles"
    // for the MDC path of the provider section open in sectionKey.
    static void RemoveSHClientProfileKey(HKEY sectionKey, const std::wstring& uidHex);
};
