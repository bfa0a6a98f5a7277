// The configuration on a mailbox: the shared logon, the store key from the
// marker message or the record key, the settings message found in the right
// store (duplicates, delegate and archive mailboxes, another user's primary
// mailbox), the special entries, the update check, what a faulty provider
// hands back, and lookups while another thread restarts the configuration.
#include "ClientKeys.h"
#include "LoggedRun.h"
#include "MapiStandin.h"
#include "Scenario.h"

#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <thread>

using namespace hk::test;

namespace {

const HRESULT kNoSettingsMessage = static_cast<HRESULT>(0x8004E00C);
const HRESULT kOnlyInNonDefaultStore = static_cast<HRESULT>(0x8007051C);
const char kSettingsClass[] = "IPM.Note.Stowhaven.Settings";

DWORD Number(const wchar_t* name, int check = 0, HRESULT* status = nullptr) {
    DWORD value = hk::test::kUnset;
    HRESULT hr = HearthkitConfig::GetConfigValue(name, &value, 9, CONFIG_VALUE_CLIENT, check);
    if (status != nullptr) {
        *status = hr;
    }
    return value;
}

// Every call of callName since the last reset passed flags, and there was one.
bool EveryCallUsed(const char* callName, ULONG flags) {
    ULONG i = 0;
    for (; MapiStandinCallFlags(callName, i) != kMapiStandinNoCall; ++i) {
        if (MapiStandinCallFlags(callName, i) != flags) {
            return false;
        }
    }
    return i > 0;
}

} // namespace

HK_SCENARIO(ConfigStoreKeyFromMailbox) {
    EXPECT_EQ(S_OK, CreateMailboxProfile(false, false));
    MapiStandinFailCall("MAPILogonEx", MAPI_E_NOT_INITIALIZED, 1, nullptr);
    EXPECT_EQ(MAPI_E_NOT_INITIALIZED, HearthkitConfig::LogonToMAPI());
    EXPECT_TRUE(HearthkitConfig::MAPISession() == nullptr);
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    EXPECT_TRUE(MapiStandinCallCount("MAPILogonEx") == 2);
    EXPECT_TRUE(EveryCallUsed("MAPILogonEx", MAPI_EXTENDED | MAPI_ALLOW_OTHERS));

    // No marker: the record key in upper-case hexadecimal, nothing written.
    CComPtr<IMsgStore> primary = OpenMailboxStore(kPrimaryProvider);
    TidyMAPIBuffer<SPropValue> recordKey;
    EXPECT_EQ(S_OK, HrGetOneProp(primary, PR_RECORD_KEY, recordKey.put()));
    std::wstring hex;
    for (ULONG i = 0; i < recordKey->Value.bin.cb; ++i) {
        hex += L"0123456789ABCDEF"[recordKey->Value.bin.lpb[i] >> 4];
        hex += L"0123456789ABCDEF"[recordKey->Value.bin.lpb[i] & 15];
    }
    const std::wstring root = L"SOFTWARE\\Talvo\\Stowhaven\\Client\\";
    wchar_t* path = nullptr;
    EXPECT_EQ(S_OK, HearthkitConfig::GetClientStoreKey(&path));
    EXPECT_EQ(root + hex, path);
    EXPECT_EQ(hex, HearthkitConfig::GetStoreKey().GetString());
    EXPECT_TRUE(CountHidden(primary, "IPM.Stowhaven.Hoardlocal") == 0);

    // A marker without "Store Id" receives the record-key text.
    HearthkitConfig::CloseDown();
    PutMarker(primary, nullptr);
    EXPECT_EQ(S_OK, HearthkitConfig::GetClientStoreKey(&path));
    EXPECT_EQ(root + hex, path);
    EXPECT_EQ(hex, ReadStoreId(primary));

    // The newest marker's "Store Id" wins; until CloseDown the key is kept.
    ::Sleep(20);
    PutMarker(primary, L"Mine");
    EXPECT_EQ(root + hex, HearthkitConfig::m_szStoreRootKey);
    HearthkitConfig::CloseDown();
    MapiStandinReset();
    EXPECT_STREQ(L"Mine", HearthkitConfig::GetStoreKey().GetString());
    EXPECT_TRUE(EveryCallUsed("IMsgStore::OpenEntry", MAPI_BEST_ACCESS));
    HearthkitConfig::ReleaseStatics();
    HearthkitConfig::CloseDown();
    primary.Release();
    recordKey.reset();
    EXPECT_TRUE(MapiStandinLiveObjects() == 0);
    return 0;
}

HK_SCENARIO(ConfigSettingsInTheMailboxes) {
    EXPECT_EQ(S_OK, CreateMailboxProfile(true, true));
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    // Nothing published, and the primary store offline: the default, and
    // the next lookup tries again.
    MapiStandinError offline = {L"The store is offline", L"standin", 0, 0};
    MapiStandinFailCall("IMAPISession::OpenMsgStore", MAPI_E_EXTENDED_ERROR, 1, &offline);
    HRESULT status = S_OK;
    EXPECT_TRUE(Number(L"A", 0, &status) == 9);
    EXPECT_EQ(kNoSettingsMessage, status);

    // The newest of three wins and the others go, the first even when its
    // hard delete leaves it in place.
    CComPtr<IMsgStore> primary = OpenMailboxStore(kPrimaryProvider);
    PutSettings(primary, L"A=2", 30);
    PutSettings(primary, L"A=1\r\nName=desk ;note\r\n", 10);
    PutSettings(primary, L"A=3", 20);
    MapiStandinReset();
    MapiStandinFailCall("IMAPIFolder::DeleteMessages", MAPI_W_PARTIAL_COMPLETION, 1, nullptr);
    EXPECT_TRUE(Number(L"A", 0, &status) == 1);
    EXPECT_EQ(S_OK, status);
    EXPECT_TRUE(CountHidden(primary, kSettingsClass) == 1);
    EXPECT_TRUE(EveryCallUsed("IMAPISession::OpenMsgStore", MAPI_BEST_ACCESS | MDB_NO_MAIL));
    EXPECT_TRUE(EveryCallUsed("IMsgStore::OpenEntry", MAPI_BEST_ACCESS));
    EXPECT_TRUE(EveryCallUsed("IMAPIFolder::OpenEntry", MAPI_BEST_ACCESS));
    EXPECT_TRUE(EveryCallUsed("IMAPISession::OpenEntry", 0));
    EXPECT_EQ(L"PrimaryUser", HearthkitConfig::m_Settings[L"MAILBOXTYPE"]);
    EXPECT_EQ(L"jdoe", HearthkitConfig::m_Settings[L";MAILBOX;"]);
    EXPECT_EQ(L"exch01.example", HearthkitConfig::m_Settings[L";SERVER;"]);
    CStringW text;
    HearthkitConfig::GetConfigStringValue(L"name", text, L"dflt");
    EXPECT_STREQ(L"desk", text.GetString());
    const FILETIME first = HearthkitConfig::GetSettingsLastModTime(0), zero = {};
    FILETIME latest = HearthkitConfig::GetSettingsLastModTime(1);
    EXPECT_TRUE(::CompareFileTime(&first, &zero) > 0 && ::CompareFileTime(&first, &latest) == 0);

    // The first lookup that asks checks the mailbox; the next one within
    // the interval does not.
    ULONG tables = MapiStandinCallCount("IMAPISession::GetMsgStoresTable");
    EXPECT_TRUE(Number(L"A", 1) == 1);
    EXPECT_TRUE(Number(L"A", 1) == 1);
    EXPECT_TRUE(MapiStandinCallCount("IMAPISession::GetMsgStoresTable") == tables + 1);

    // A newer publication reaches the lookups that ask for updates.
    ::Sleep(1100);
    PutSettings(primary, L"A=5\r\nC=3\r\n", 0);
    HearthkitConfig::s_dLastUpdateCheck = 0;
    EXPECT_TRUE(Number(L"A", 1) == 5);
    EXPECT_TRUE(Number(L"A", 0) == 1);
    EXPECT_TRUE(Number(L"C", 1) == 3);
    latest = HearthkitConfig::GetSettingsLastModTime(1);
    EXPECT_TRUE(::CompareFileTime(&latest, &first) > 0);

    // Only another user's primary mailbox holds the message: never used,
    // but told apart from no message at all.
    HearthkitConfig::ReleaseStatics();
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    CComPtr<IMsgStore> delegate = OpenMailboxStore(kDelegateProvider);
    CComPtr<IMsgStore> archive = OpenMailboxStore(kDelegateProvider, true);
    MakeDefault(delegate);
    EXPECT_TRUE(Number(L"A", 0, &status) == 9);
    EXPECT_EQ(kOnlyInNonDefaultStore, status);
    bool flag = false;
    IAttach* attachment = reinterpret_cast<IAttach*>(0xdeadbeef);
    IMsgStore* store = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    EXPECT_EQ(E_FAIL, HearthkitConfig::OpenDesktopSettingsAttachment(
                          HearthkitConfig::MAPISession(), kPrimaryProvider, &store, &attachment, &flag));
    EXPECT_TRUE(flag && attachment == nullptr && store == nullptr);

    // The delegate mailbox answers; the archive mailbox, listed first, is
    // never read.
    PutSettings(archive, L"A=7");
    PutSettings(delegate, L"A=4");
    EXPECT_TRUE(Number(L"A", 0, &status) == 4);
    EXPECT_EQ(L"Delegate", HearthkitConfig::m_Settings[L"MAILBOXTYPE"]);
    EXPECT_EQ(0u, HearthkitConfig::m_Settings.count(L";MAILBOX;"));
    primary.Release();
    delegate.Release();
    archive.Release();
    HearthkitConfig::ReleaseStatics();
    EXPECT_TRUE(MapiStandinLiveObjects() == 0);
    return 0;
}

HK_SCENARIO(ConfigFaultyProvider) {
    EXPECT_EQ(S_OK, CreateMailboxProfile(true, false));
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    IMAPISession* session = HearthkitConfig::MAPISession();
    CComPtr<IMsgStore> primary = OpenMailboxStore(kPrimaryProvider);
    CComPtr<IMsgStore> delegate = OpenMailboxStore(kDelegateProvider);
    PutSettings(primary, L"A=1\r\nB=2");
    PutMarker(primary, L"Mine");
    // Rows without values: each reader fails, none reads past the row.
    CComPtr<IAttach> attachment;
    CComPtr<IMsgStore> store;
    wchar_t* path = nullptr;
    auto inStore = [&] {
        return HearthkitConfig::OpenDesktopSettingsAttachmentInStore(primary, &attachment);
    };
    auto storeKey = [&] {
        HearthkitConfig::CloseDown();
        return HearthkitConfig::GetClientStoreKey(&path);
    };
    const struct {
        const char* rows;
        ULONG skip;
        HRESULT expected;
        std::function<HRESULT()> read;
    } readers[] = {
        {"stores of a provider", 0, E_FAIL,
         [&] {
             return HearthkitConfig::OpenDesktopSettingsAttachment(session, kPrimaryProvider, nullptr,
                                                                   &attachment, nullptr);
         }},
        {"settings messages", 0, E_FAIL, inStore},
        {"attachments", 1, E_FAIL, inStore},
        {"default store", 0, E_FAIL, storeKey},
        {"marker messages", 1, MAPI_E_NOT_FOUND, storeKey},
        {"stores of a kind", 0, E_FAIL,
         [&] { return HearthkitUtil::OpenStoreOfType(MessageStoreTypePrimaryMailbox, session, &store); }},
    };
    for (const auto& reader : readers) {
        attachment.Release();
        MapiStandinRowsWithoutValues(reader.skip, 1);
        EXPECT_EQ(reader.expected, reader.read()) << reader.rows;
    }
    MapiStandinRowsWithoutValues(0, 0);

    // The stream's bytes count, whatever its Stat claims, up to 16 MiB.
    attachment.Release();
    EXPECT_EQ(S_OK, inStore());
    for (ULONGLONG claim : {4ULL, 0x7FFFFFFFULL, 0x80000000ULL}) {
        MapiStandinClaimStreamSize(claim);
        HkSettingsMap settings;
        EXPECT_EQ(S_OK, HearthkitConfig::PopulateSettingsCache(attachment, &settings)) << claim;
        EXPECT_EQ((HkSettingsMap{{L"A", L"1"}, {L"B", L"2"}}), settings) << claim;
    }
    MapiStandinClaimStreamSize(0);
    const size_t kFillsTheCap = (16 * 1024 * 1024 - 6) / 2; // after the mark and "A="
    for (size_t extra : {0, 1}) {
        PutSettings(delegate, L"A=" + std::wstring(kFillsTheCap + extra, L'x'));
        attachment.Release();
        EXPECT_EQ(S_OK, HearthkitConfig::OpenDesktopSettingsAttachmentInStore(delegate, &attachment));
        HkSettingsMap settings;
        EXPECT_EQ(extra == 0 ? S_OK : MAPI_E_TOO_BIG,
                  HearthkitConfig::PopulateSettingsCache(attachment, &settings));
        EXPECT_EQ(extra == 0 ? 1u : 0u, settings.size());
    }
    return 0;
}

// Eight threads look values up while another restarts the configuration;
// a hang ends in the scenario runner's time-out.
HK_SCENARIO(ConfigLookupsWhileRestarting) {
    EXPECT_EQ(S_OK, CreateMailboxProfile(false, false));
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    CComPtr<IMsgStore> primary = OpenMailboxStore(kPrimaryProvider);
    PutSettings(primary, L"B=one\r\n");
    PutMarker(primary, L"Mine");
    primary.Release();
    CRegKey key;
    EXPECT_TRUE(key.Create(HKEY_CURRENT_USER, L"SOFTWARE\\Talvo\\Stowhaven\\Client\\Mine") == ERROR_SUCCESS);
    key.SetDWORDValue(L"Level", 2);
    HearthkitConfig::SetUpdateSettingsInterval(0); // every asking lookup checks
    std::atomic<bool> stop{false};
    std::atomic<long> answers{0}, values{0}, wrong{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (!stop) {
            HearthkitConfig::ReleaseStatics();
            HearthkitConfig::CloseDown();
            ::Sleep(1);
            wrong += HearthkitConfig::LogonToMAPI() == S_OK ? 0 : 1;
            ::Sleep(1);
        }
    });
    // Each answer is the value as configured, or a failure with the default.
    auto lookUp = [&] {
        for (int i = 0; !stop; ++i) {
            DWORD level = kUnset;
            HRESULT hr = HearthkitConfig::GetConfigValue(L"Level", &level, 9, CONFIG_VALUE_STORE, i % 2);
            bool right = (level == 2 && SUCCEEDED(hr)) || (level == 9 && FAILED(hr));
            CStringW text;
            hr = HearthkitConfig::GetConfigStringValue(L"B", text, L"dflt", CONFIG_VALUE_CLIENT, i % 2);
            right = right && ((text == L"one" && hr == S_OK) || (text == L"dflt" && FAILED(hr)));
            try {
                right = right && HearthkitConfig::GetStoreKey() == L"Mine";
            } catch (const _com_error& e) {
                right = right && e.Error() == E_INVALIDARG;
            }
            ++answers;
            values += level == 2 ? 1 : 0;
            wrong += right ? 0 : 1;
        }
    };
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back(lookUp);
    }
    ::Sleep(3000);
    stop = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(wrong == 0);
    EXPECT_TRUE(values > 0 && values < answers);
    HearthkitConfig::ReleaseStatics();
    HearthkitConfig::CloseDown();
    return 0;
}

HK_SCENARIO(UtilStoresAndItems) {
    EXPECT_EQ(S_OK, CreateMailboxProfile(true, true));
    EXPECT_EQ(S_OK, HearthkitConfig::LogonToMAPI());
    MapiStandinReset();
    IMAPISession* session = HearthkitConfig::MAPISession();
    // Each kind picks its provider; the delegate kind passes the archive by,
    // and an unknown kind is the primary mailbox.
    auto nameOf = [&](int kind) -> std::wstring {
        CComPtr<IMsgStore> store;
        HRESULT hr = HearthkitUtil::OpenStoreOfType(static_cast<MessageStoreType>(kind), session, &store);
        if (FAILED(hr)) {
            return L"failed " + std::to_wstring(static_cast<unsigned long>(hr));
        }
        TidyMAPIBuffer<SPropValue> name;
        HrGetOneProp(store, PR_DISPLAY_NAME_W, name.put());
        return name ? name->Value.lpszW : L"?";
    };
    EXPECT_EQ(L"Mailbox - John Doe", nameOf(MessageStoreTypePrimaryMailbox));
    EXPECT_EQ(L"Delegate", nameOf(MessageStoreTypeDelegateMailbox));
    EXPECT_EQ(L"Public Folders", nameOf(MessageStoreTypePublicFolders));
    EXPECT_EQ(L"failed 2147500037", nameOf(MessageStoreTypePersonalFolders)); // E_FAIL: no PST here
    EXPECT_EQ(L"Mailbox - John Doe", nameOf(7));
    EXPECT_TRUE(EveryCallUsed("IMAPISession::OpenMsgStore", MAPI_BEST_ACCESS | MDB_NO_MAIL));

    // Archived: "Archive ID" on an item that is none of the transient kinds.
    CComPtr<IMsgStore> primary = OpenMailboxStore(kPrimaryProvider);
    struct {
        const char* messageClass;
        const wchar_t* archiveId;
        bool archived;
    } items[] = {
        {"IPM.Note", L"A1", true},
        {"IPM.Note", nullptr, false},
        {"ipm.note.stowhaven.shortcut.deleteme.more", L"A2", false},
        {"IPM.Note.Stowhaven.Shortcut.RestoreMe", L"A3", false},
        {"IPM.Note.X.Stowhaven.PendingArchive.Y", L"A4", false},
        {"IPM.Note.stowhaven.pendingarchive", L"A5", true}, // the substring test minds case
        {"IPM.Note.Stowhaven.Shortcut", L"A6", true},
    };
    for (const auto& item : items) {
        CComPtr<IMessage> message = PutItem(primary, item.messageClass, item.archiveId);
        EXPECT_EQ(item.archived, HearthkitUtil::IsArchivedItem(message)) << item.messageClass;
    }

    // The filter message: a case-sensitive prefix among associated items.
    CComPtr<IMAPIFolder> inbox = OpenInbox(primary);
    IMessage* filter = reinterpret_cast<IMessage*>(0xdeadbeef);
    PutItem(primary, "ipm.stowhaven.filter", nullptr, true);
    PutItem(primary, "IPM.Stowhaven.Filter", nullptr, false); // not associated
    EXPECT_EQ(MAPI_E_NOT_FOUND, HearthkitUtil::GetFilterMessage(primary, inbox, &filter));
    EXPECT_TRUE(filter == nullptr);
    PutItem(primary, "IPM.Stowhaven.Filter.Rules", nullptr, true);
    CComPtr<IMessage> found;
    MapiStandinReset();
    EXPECT_EQ(S_OK, HearthkitUtil::GetFilterMessage(primary, inbox, &found));
    EXPECT_TRUE(EveryCallUsed("IMsgStore::OpenEntry", MAPI_BEST_ACCESS));
    TidyMAPIBuffer<SPropValue> messageClass;
    EXPECT_EQ(S_OK, HrGetOneProp(found, PR_MESSAGE_CLASS_A, messageClass.put()));
    EXPECT_STREQ("IPM.Stowhaven.Filter.Rules", messageClass->Value.lpszA);
    return 0;
}

// Each scenario with the log lines it must write (lines starting with "~"
// are found anywhere in a record, the others are whole records).
TEST(ConfigMailbox, ScenariosOnTheStandinWriteTheirLines) {
    const struct {
        const char* scenario;
        DWORD level;
        std::vector<std::string> lines;
    } cases[] = {
        {"ConfigStoreKeyFromMailbox",
         LOG_DETAIL,
         {"Unable to perform a MAPI Logon - verify that Exchange System Manager is not installed",
          "Store key is SOFTWARE\\Talvo\\Stowhaven\\Client\\Mine", "Freeing store key"}},
        {"ConfigSettingsInTheMailboxes",
         LOG_DETAIL,
         {"Mailboxes: 1", "Mailboxes: 2", "Name: Mailbox - John Doe", "Extended error: The store is offline",
          "Found 2 additional Desktop Settings message(s)", "Deleted additional Desktop Settings message: 1",
          "Deleted additional Desktop Settings message: 2", " A = 1 [Desktop Setting]",
          "Checking for updated desktop settings", "    A = 5", "    C = 3",
          "    Value: 5 [from updated settings]",
          "~: Detected updated desktop settings, populating updated settings cache",
          "~LoadSettingsFromHiddenMessage com_error",
          "Name: Mailbox - John Doe [hidden message found in non-default Exchange store]",
          "Name: Mailbox - John Doe [ignoring non-default Exchange store]",
          "~ [ignoring Archive Mailbox store]\r\n"}},

        {"ConfigFaultyProvider",
         LOG_ERROR,
         {"Desktop settings attachment larger than 16777216 bytes: not read"}},
        {"ConfigLookupsWhileRestarting", LOG_ERROR, {}},
        {"UtilStoresAndItems", LOG_ERROR, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        MapiStandinRegistration standin;
        ClientKeys keys;
        auto run = hk::test::RunLoggedScenario(c.scenario, {}, c.level);
        EXPECT_EQ(0u, run.result.exitCode) << run.result.output;
        for (const std::string& line : c.lines) {
            std::string text = line[0] == '~' ? line.substr(1) : hk::test::Record(line);
            EXPECT_NE(std::string::npos, run.log.find(text)) << line << "\n" << run.log;
        }
    }
}
