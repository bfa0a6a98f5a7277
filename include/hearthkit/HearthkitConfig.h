// HearthkitConfig: the client's configuration. Registry values under the
// client root key "SOFTWARE\Talvo\Stowhaven\Client" (HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER) and under the per-mailbox store key below it.
// Static members only.
#pragma once

#include "HearthkitExport.h"
#include "HkCom.h"
#include "HkLock.h"
#include "HkString.h"
#include "MAPILoader.h"

#include <windows.h>
#include <map>
#include <string>
#include <vector>

// The key a value lives under. Only CONFIG_VALUE_STORE is told apart: every
// other value reads and writes the client root key.
enum ConfigValueType : unsigned int {
    CONFIG_VALUE_CLIENT = 2,
    CONFIG_VALUE_STORE = 4,
};

// Desktop settings: upper-case name to value, in ordinal order of the names.
using HkSettingsMap = std::map<std::wstring, std::wstring>;

// Threads: every operation may be called from any thread at any time,
// ReleaseStatics, CloseDown and LogonToMAPI included. One recursive lock of
// the class serialises the first logon, the derivation of the store key, the
// first load of the desktop settings and the update checks, and guards the
// shared session and the store key; operations take a reference to the
// session or a copy of the key under it and work on that. The
// updated-settings lock guards both settings caches and is taken after the
// class's lock, never before. A lookup racing ReleaseStatics or CloseDown
// answers either the value as it was or the failure of the missing session
// (with the default delivered); it never reads a released session or a freed
// key. What MAPISession and GetClientStoreKey hand out is borrowed: it
// stays valid only until LogOffMAPI or ReleaseStatics (the session) or
// CloseDown (the path) on any thread.
class HEARTHKIT_API HearthkitConfig {
public:
    // ---- Lifecycle -------------------------------------------------------

    // The update lock lives for the library's life (built with its statics),
    // so it exists before any caller can take it. Startup and Shutdown keep
    // the host's calling order and do nothing more.
    static void Startup();
    static void Shutdown();
    // Frees the store key path; the next request derives it again.
    static void CloseDown();
    // Releases the shared session and empties both settings caches; the
    // next lookup loads them again.
    static void ReleaseStatics();

    // ---- The shared MAPI session -------------------------------------------

    // Logs on sharing the mail client's session (MAPI_EXTENDED |
    // MAPI_ALLOW_OTHERS); S_OK at once when the session is already held.
    static HRESULT LogonToMAPI();
    // Releases the shared session (no MAPI logoff); S_OK.
    static HRESULT LogOffMAPI();
    // The shared session, no reference added (borrowed, see above); null
    // before LogonToMAPI.
    static IMAPISession* MAPISession();
    // The session's default store (MAPI_BEST_ACCESS | MDB_NO_MAIL). Null
    // session or out pointer: E_INVALIDARG; no default store, or more than
    // one: E_FAIL.
    static HRESULT OpenDefaultStore(IMAPISession* session, IMsgStore** store);

    // ---- Store key -------------------------------------------------------

    // The full store key path (client root path, backslash, store key name),
    // owned by the class: the caller does not free it, and it is freed by
    // CloseDown (on any thread). Null out pointer:
    // E_INVALIDARG. A key that cannot be derived leaves it unset and answers
    // the failure.
    static HRESULT GetClientStoreKey(wchar_t** storeKey);
    // The store key name alone (a copy); raises _com_error when it cannot be
    // derived.
    static CStringW GetStoreKey();

    // ---- Registry values -------------------------------------------------

    // Reads a REG_DWORD from HKEY_CURRENT_USER under the client root key or
    // the store key. A missing value, a missing key or a value of another
    // type delivers the default. Null out pointer: E_INVALIDARG; a store key
    // that cannot be derived: the default and that failure.
    static HRESULT GetRegKeyValue(const wchar_t* name, DWORD* value, DWORD defaultValue,
                                  ConfigValueType type = CONFIG_VALUE_CLIENT);
    // The same for a REG_SZ or REG_EXPAND_SZ value (not expanded).
    static HRESULT GetRegKeyValue(const wchar_t* name, CStringW& value, const wchar_t* defaultValue,
                                  ConfigValueType type = CONFIG_VALUE_CLIENT);
    // Writes a REG_SZ; an empty (or null) value deletes the value. The key is
    // never created: when it does not exist nothing is written and the answer
    // is S_OK. (A literal 0 as the value is ambiguous between the two forms:
    // pass a DWORD or a string.)
    static HRESULT SetRegKeyValue(const wchar_t* name, const wchar_t* value,
                                  ConfigValueType type = CONFIG_VALUE_CLIENT);
    // Writes a REG_DWORD; as above, without deletion.
    static HRESULT SetRegKeyValue(const wchar_t* name, DWORD value,
                                  ConfigValueType type = CONFIG_VALUE_CLIENT);

    // "HoardviewConfiguredProfiles" under the store key (empty when absent).
    static void SetHoardviewConfiguredProfiles(const wchar_t* profiles);
    static void GetHoardviewConfiguredProfiles(CStringW& profiles);

    // ---- Layered lookup ------------------------------------------------------

    // A setting from, in this order: HKLM's client root key, HKCU's store key
    // (for CONFIG_VALUE_STORE only), HKCU's client root key, the desktop
    // settings, the default. The desktop setting "RESTRICTPOLICYLOOKUP", when
    // present, is a mask of the registry sources consulted (1 HKLM, 4 store
    // key, 2 HKCU). The value is always delivered; a store key that cannot be
    // derived ends the lookup with the default and that failure. Otherwise
    // the status is that of the last step that produced one: callers use the
    // value, not the status.
    static HRESULT GetConfigValue(const wchar_t* name, DWORD* value, DWORD defaultValue,
                                  ConfigValueType type = CONFIG_VALUE_CLIENT, int checkForUpdates = 0);
    static HRESULT GetConfigStringValue(const wchar_t* name, CStringW& value, const wchar_t* defaultValue,
                                        ConfigValueType type = CONFIG_VALUE_CLIENT, int checkForUpdates = 0);
    // For diagnostics: what a lookup of name finds, with a registry value of
    // either type given as text, and the layer it came from: "HKLM Client
    // Root", "HKCU Store Key", "HKCU Client Root", "Desktop Setting", or
    // "default" (value empty). The status is the lookup's.
    static HRESULT DescribeConfigValue(const wchar_t* name, ConfigValueType type, CStringW& value,
                                       CStringW& source);
    // A desktop setting: S_OK found, S_FALSE not found, or the failure to
    // load the settings. With checkForUpdates the updated settings are
    // consulted first.
    static HRESULT GetSetting(const wchar_t* name, CComBSTR& value, int checkForUpdates);
    // Looks name (upper-cased) up in settings; false when absent.
    static bool GetSettingFromCache(const wchar_t* name, const HkSettingsMap& settings, CComBSTR& value);

    // ---- The desktop settings message -------------------------------------
    // Used by the lookups above; public for diagnostics.

    // Opens the first attachment of the settings message in the first store
    // of provider (a 16-byte MAPI UID) that holds one. For the primary
    // mailbox provider only the default store is searched; whether another
    // store of that provider holds the message is told by
    // *hiddenInNonDefaultStore (when given). Archive mailboxes are skipped.
    // Null session: E_POINTER; no store yielded an attachment: E_FAIL and
    // every given out pointer null.
    static HRESULT OpenDesktopSettingsAttachment(IMAPISession* session, const BYTE* provider,
                                                 IMsgStore** store, IAttach** attachment,
                                                 bool* hiddenInNonDefaultStore);
    // The newest settings message of the store's Inbox (older copies are
    // deleted: hard, or else plainly when the hard delete answers anything
    // but S_OK) and its first attachment. No message or no attachment: E_FAIL.
    static HRESULT OpenDesktopSettingsAttachmentInStore(IMsgStore* store, IAttach** attachment);
    static bool DoesHiddenMsgExistInStore(IMsgStore* store);
    // A property of the store's owner as a mail user; *value is freed by the
    // caller with MAPIFreeBuffer.
    static HRESULT GetMailUserProperty(IMAPISession* session, IMsgStore* store, ULONG tag,
                                       LPSPropValue* value);
    // The attachment's modification time as an OLE automation date (UTC,
    // whole seconds); *time is unchanged when the attachment has none.
    static HRESULT GetAttachmentLastModifiedTime(IAttach* attachment, double* time);
    // Parses the attachment's data into settings (not emptied first): the
    // bytes the stream yields, whatever size its Stat claims. Data above
    // 16 MiB is not parsed: MAPI_E_TOO_BIG, logged, settings unchanged.
    static HRESULT PopulateSettingsCache(IAttach* attachment, HkSettingsMap* settings);
    // The first load of the desktop settings from the mailbox (session, or
    // the shared one when null); once loaded, the update check when
    // checkForUpdates is set, else S_FALSE. No settings message anywhere:
    // 0x8004E00C, or 0x8007051C when only a non-default mailbox store of the
    // user holds it.
    static HRESULT LoadSettingsFromHiddenMessage(IMAPISession* session, int checkForUpdates);
    // Reads the settings again when the published attachment is newer, at
    // most once per update interval: S_OK after a check, S_FALSE when none
    // was due.
    static HRESULT CheckForUpdatedSettings(IMAPISession* session);

    // ---- Cache administration ---------------------------------------------

    // Put a desktop setting into the first cache, replacing its value. A
    // cache made non-empty this way is never loaded from the mailbox.
    static HRESULT AddSetting(const wchar_t* name, int value);
    static HRESULT AddSetting(const wchar_t* name, const wchar_t* value);
    // The names and values of one cache in name order; an empty cache leaves
    // the vectors as they are.
    static HRESULT GetItemsInCache(bool updatedCache, std::vector<std::wstring>& names,
                                   std::vector<std::wstring>& values);
    // Writes the updated-settings cache, one "    name = value" line each.
    static void LogUpdatedDesktopSettings();
    static HRESULT SetUpdateSettingsInterval(UINT minutes);
    // The modification time of the latest (latest != 0) or of the first
    // settings loaded; a zero FILETIME before any were loaded.
    static FILETIME GetSettingsLastModTime(int latest);

    // ---- State -------------------------------------------------------------

    // The session LogonToMAPI opened, or null.
    static CComPtr<IMAPISession> m_pSession;

    // Full path of the store key, or null until derived. Allocated with
    // new[] and freed by CloseDown with delete[].
    static wchar_t* m_szStoreRootKey;
    // The store key name alone; keeps its text after CloseDown.
    static CStringW m_StoreKey;
    // Guards both settings caches; recursive.
    static CHkCriticalSection m_hUpdatedSettingsCritSect;
    // Desktop settings as first loaded, and as read again after the
    // published message changed (guarded by m_hUpdatedSettingsCritSect).
    static HkSettingsMap m_Settings;
    static HkSettingsMap m_UpdatedSettings;
    // OLE automation dates of the first and of the newest settings loaded.
    static double m_dSettingsOriginalModifiedTime;
    static double m_dSettingsLastModifiedTime;
    // Minutes between two checks for updated settings (60 by default).
    static double m_dCheckLatestMinInterval;
    // OLE automation date (UTC) of the last completed update check.
    static double s_dLastUpdateCheck;
};
