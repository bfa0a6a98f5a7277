// Every exported operation that takes a pointer or an interface, handed a
// null: it answers clearly (E_POINTER or E_INVALIDARG, a raised error where
// its class raises, the documented value where it answers no HRESULT) and
// writes a line at LOG_ERROR; it never faults. The rows run in a child
// process; a row that faults ends that child, and the parent reports the row
// and goes on in a new child from the next one.
#include "LoggedRun.h"
#include "MapiStandin.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <functional>
#include <stdexcept>

namespace {

using Answer = long long;
struct Fixture;
struct Row {
    const char* name;
    Answer expected;
    Answer (*call)(Fixture& f);
};

const char* const kNoText = nullptr;
const wchar_t* const kNoWide = nullptr;

// What a call raised, as the HRESULT a caller would map it to: a
// _com_error's own, E_INVALIDARG for std::invalid_argument, E_FAIL for any
// other std::exception; S_OK when it completed.
Answer Raised(const std::function<void()>& call) {
    try {
        call();
        return S_OK;
    } catch (const _com_error& e) {
        return e.Error();
    } catch (const std::invalid_argument&) {
        return E_INVALIDARG;
    } catch (const std::exception&) {
        return E_FAIL;
    }
}

struct Pst : CDesktopPSTHelperBase {
    Pst() : CDesktopPSTHelperBase(false, false) {}
    using CDesktopPSTHelperBase::SetMAPISession;
};

struct Client : CHttpClientHelper {
    explicit Client(CComBSTR url) : CHttpClientHelper(url, 1000) {}
    using CHttpClientHelper::GetURLStatusText;
    using CHttpClientHelper::Init;
    using CHttpClientHelper::PostDataToServer;
    using CHttpClientHelper::PostFormDataToServer;
    using CHttpClientHelper::PostLargeDataToServer;
    using CHttpClientHelper::PostUTF8XMLDataToServer;
    using CHttpClientHelper::PostXMLDataToServer;
};

struct Retry : RetryInterval {
    Retry() : RetryInterval(5, 10) {}
    using RetryInterval::GetRetryIntervalInMilliSeconds;
};

// What the rows share: a session and a store on the stand-in's mailbox
// profile, an initialised server client (nothing listens on its port: every
// row must stop before sending), a request engine without a connection.
struct Fixture {
    Fixture() {
        hk::test::Must(hk::test::CreateMailboxProfile(false, false), "profile");
        session = hk::test::DefaultSession();
        store = hk::test::OpenMailboxStore(hk::test::kPrimaryProvider);
        hk::test::Must(session->AdminServices(0, &admin), "AdminServices");
        client.Init();
    }
    CComPtr<IMAPISession> session;
    CComPtr<IMsgStore> store;
    CComPtr<IMsgServiceAdmin> admin;
    SRowSet* rows = nullptr; // never filled: every call that could fill it is refused
    MAPIUID uid{};
    IMsgStore* opened = nullptr; // likewise
    Client client{L"http://127.0.0.1:9/app"};
    CInternetSendDataBase engine{nullptr, INTERNET_SCHEME_HTTP, "/app", false};
    std::vector<FieldData> fields;
    std::vector<FileData> files;
    std::vector<FileData> noData{{"file", "a.bin", nullptr, 5, "application/octet-stream"}};
    ResponseDetails response;
    CComBSTR xml{L"<x/>"};
    CStringW text;
    CComBSTR bstr;
    std::vector<BYTE> bytes;
    std::wstring wide;
    HkSettingsMap settings;
    CoTaskMemString local, remote;
    CDesktopLog log{"NullArgs"};
    FILETIME time{0x12345678, 0x01D00000};
    SBinary noBytes{4, nullptr};
};

// One row: the call's text, the answer it must give and the call itself.
// clang-format off
#define ROW(expected, ...) {#__VA_ARGS__, expected, [](Fixture& f) -> Answer { return (void)f, __VA_ARGS__; }}
// clang-format on

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        ROW(E_INVALIDARG, f.log.LogText(LOG_ERROR, kNoText)),
        ROW(E_INVALIDARG, f.log.LogText(LOG_ERROR, kNoWide)),
        ROW(E_INVALIDARG, f.log.LogText(LOG_ERROR, kNoText, "a")),
        ROW(E_INVALIDARG, f.log.LogText(LOG_ERROR, kNoText, L"a")),
        ROW(E_INVALIDARG, f.log.LogInt(LOG_ERROR, nullptr, 1)),
        ROW(E_INVALIDARG, f.log.LogLong(LOG_ERROR, nullptr, 1)),
        ROW(E_INVALIDARG, f.log.LogInt64(LOG_ERROR, nullptr, 1)),
        ROW(E_INVALIDARG, f.log.LogTextInt(LOG_ERROR, nullptr, "a", 1)),
        ROW(E_INVALIDARG, f.log.LogTextInt(LOG_ERROR, nullptr, L"a", 1)),
        ROW(S_OK, f.log.LogHR(LOG_ERROR, kNoText, E_FAIL)),
        ROW(S_OK, f.log.LogHR(LOG_ERROR, kNoWide, E_FAIL)),
        ROW(S_OK, f.log.LogFileTime(LOG_ERROR, nullptr, f.time)),
        ROW(E_INVALIDARG, f.log.LogTextNoTimeStamp(LOG_ERROR, kNoText)),
        ROW(E_INVALIDARG, f.log.LogTextNoTimeStamp(LOG_ERROR, kNoWide)),
        ROW(E_INVALIDARG, f.log.LogXML(LOG_ERROR, nullptr, 4)),
        ROW(E_INVALIDARG, HearthkitConfig::OpenDefaultStore(f.session, nullptr)),
        ROW(E_INVALIDARG, HearthkitConfig::GetClientStoreKey(nullptr)),
        ROW(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(nullptr, static_cast<DWORD*>(nullptr), 0)),
        ROW(E_INVALIDARG, HearthkitConfig::GetRegKeyValue(nullptr, f.text, nullptr)),
        ROW(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(nullptr, L"v")),
        ROW(E_INVALIDARG, HearthkitConfig::SetRegKeyValue(nullptr, DWORD(1))),
        ROW(S_OK, Raised([] { HearthkitConfig::SetHoardviewConfiguredProfiles(nullptr); })),
        ROW(E_INVALIDARG, HearthkitConfig::GetConfigValue(nullptr, nullptr, 0)),
        ROW(E_INVALIDARG, HearthkitConfig::GetConfigStringValue(nullptr, f.text, nullptr)),
        ROW(E_INVALIDARG, HearthkitConfig::DescribeConfigValue(nullptr, CONFIG_VALUE_CLIENT, f.text, f.text)),
        ROW(E_INVALIDARG, HearthkitConfig::GetSetting(nullptr, f.bstr, 0)),
        ROW(false, HearthkitConfig::GetSettingFromCache(nullptr, f.settings, f.bstr)),
        ROW(E_POINTER,
            HearthkitConfig::OpenDesktopSettingsAttachment(f.session, nullptr, nullptr, nullptr, nullptr)),
        ROW(E_POINTER, HearthkitConfig::OpenDesktopSettingsAttachmentInStore(f.store, nullptr)),
        ROW(false, HearthkitConfig::DoesHiddenMsgExistInStore(nullptr)),
        ROW(E_INVALIDARG,
            HearthkitConfig::GetMailUserProperty(f.session, f.store, PR_DISPLAY_NAME_W, nullptr)),
        ROW(E_POINTER, HearthkitConfig::GetAttachmentLastModifiedTime(nullptr, nullptr)),
        ROW(E_POINTER, HearthkitConfig::PopulateSettingsCache(nullptr, nullptr)),
        ROW(E_POINTER, HearthkitConfig::CheckForUpdatedSettings(nullptr)),
        ROW(E_INVALIDARG, HearthkitConfig::AddSetting(nullptr, 1)),
        ROW(E_INVALIDARG, HearthkitConfig::AddSetting(L"NULLARGS", kNoWide)),
        ROW(E_INVALIDARG, f.engine.GetDataFromServer(nullptr, nullptr)),
        ROW(E_INVALIDARG, f.engine.GetURLStatusText(nullptr, nullptr, nullptr, 10)),
        ROW(E_INVALIDARG, f.engine.PostFormDataToServer(nullptr, f.fields, nullptr)),
        ROW(E_INVALIDARG, f.engine.PostXMLDataToServer(nullptr, f.xml, nullptr)),
        ROW(E_INVALIDARG, f.engine.PostUTF8XMLDataToServer(nullptr, L"", nullptr, nullptr)),
        ROW(E_INVALIDARG, f.engine.PostDataToServer(nullptr, f.files, f.fields, nullptr)),
        ROW(E_INVALIDARG, f.engine.PostLargeDataToServer(nullptr, f.files, f.fields, nullptr)),
        ROW(false, Client(CComBSTR()).Init()),
        ROW(E_INVALIDARG, f.client.GetURLStatusText(nullptr, nullptr, nullptr, 10)),
        ROW(E_INVALIDARG, f.client.PostFormDataToServer("/op", f.fields, nullptr)),
        ROW(E_INVALIDARG, f.client.PostXMLDataToServer("/op", f.xml, nullptr)),
        ROW(E_INVALIDARG, f.client.PostUTF8XMLDataToServer("/op", L"", nullptr, nullptr)),
        ROW(E_INVALIDARG, f.client.PostDataToServer("/op", f.files, f.fields, nullptr)),
        ROW(E_INVALIDARG, f.client.PostLargeDataToServer("/op", f.noData, f.fields, &f.response)),
        ROW(S_OK, Raised([] { HearthkitUtil::SetRegValue(HKEY_CURRENT_USER, nullptr, L"NullArgs", 1); })),
        ROW(0, HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, nullptr, L"NullArgs") != nullptr),
        ROW(7, HearthkitUtil::GetRegValue(HKEY_CURRENT_USER, nullptr, L"NullArgs", 7)),
        ROW(E_INVALIDARG, HearthkitUtil::OpenStoreOfType(MessageStoreTypePrimaryMailbox, f.session, nullptr)),
        ROW(false, HearthkitUtil::IsArchivedItem(nullptr)),
        ROW(E_INVALIDARG, HearthkitUtil::GetFilterMessage(f.store, nullptr, nullptr)),
        ROW(E_INVALIDARG, HearthkitUtil::ConvertISO8601ToFileTime(L"2020-01-02T03:04:05Z", nullptr)),
        ROW(E_INVALIDARG, HearthkitUtil::ConvertFileTimeToISO8601(f.time, nullptr, 1)),
        ROW(0, HearthkitUtil::EidToBstr(f.noBytes).Length()),
        ROW(E_INVALIDARG, HearthkitUtil::EidToWchar(f.noBytes, nullptr)),
        ROW(E_INVALIDARG, HearthkitUtil::WcharToEid(static_cast<wchar_t*>(nullptr), nullptr)),
        ROW(E_INVALIDARG, HearthkitUtil::WcharToEid(L"0102", nullptr, 2, nullptr)),
        ROW(E_INVALIDARG, HearthkitUtil::HexStrToWchar(f.noBytes, f.wide, 100)),
        ROW(E_INVALIDARG, HearthkitUtil::HexStrToBinary(nullptr, f.bytes)),
        ROW(false, HearthkitUtil::LoadBufferIntoXMLDOM(nullptr, nullptr, 5)),
        ROW(E_INVALIDARG, HearthkitUtil::GetBITSJobFileDetails(nullptr, f.local, f.remote)),
        ROW(false, HearthkitUtil::HasInternetConnection(nullptr, nullptr, nullptr, false)),
        ROW(false, HearthkitUtil::IsUsingBasicAuthentication(nullptr)),
        ROW(false, File::Exists(kNoWide)),
        ROW(0, Blob(nullptr)),
        ROW(S_OK, Raised([] { Directory::GetFiles(kNoWide, kNoWide); })),
        ROW(0, DiskUtil::HCStoreSize(nullptr)),
        ROW(0, DiskUtil::GetFreeSpaceInMb(nullptr)),
        ROW(1024, DiskUtil::GetFreeSpaceInMbRoundedToNearestGb(nullptr)),
        ROW(1023000, DiskUtil::GetFreeSpacePercentInMb(nullptr, 10)),
        ROW(0, UrlComponents<char>(nullptr).nScheme),
        ROW(0, UrlComponents<wchar_t>(nullptr).nScheme),
        ROW(5000, Retry().GetRetryIntervalInMilliSeconds(nullptr)),
        ROW(S_OK, Raised([] { CL10N().GetBinaryResource(1, nullptr, nullptr); })),
        ROW(E_FAIL, Pst().OnError(E_FAIL, nullptr, nullptr)),
        ROW(E_FAIL, Pst().OnNoPSTServiceError(E_FAIL, nullptr)),
        ROW(E_INVALIDARG, CDesktopPSTHelperBase::OpenMAPISession(nullptr, true)),
        ROW(E_POINTER, Pst().OpenNamedPST(nullptr, false, nullptr, CDesktopPSTHelperBase::OpenExisting)),
        ROW(E_INVALIDARG, Pst().GetStore(nullptr)),
        ROW(E_INVALIDARG, Pst().GetRootFolder(nullptr)),
        ROW(E_INVALIDARG, Pst().OpenItemByEntryId(nullptr, nullptr)),
        ROW(E_INVALIDARG, Pst().SetMAPISession(nullptr)),
        ROW(0, Pst().HrTrustedPSTOverrideHandlerCallback(nullptr, nullptr)),
        ROW(0, HrTrustedPSTOverrideHandlerCallback(nullptr, nullptr, nullptr)),
        ROW(S_OK, Raised([] { MDC::PSTNamedProperties properties(nullptr); })),
        ROW(E_POINTER,
            Raised([] { MDC::PSTNamedProperties::GetTagByName(nullptr, L"x", PT_LONG, nullptr); })),
        ROW(E_POINTER, Raised([&] { SHMSPConfig::GetSHMSPServices(nullptr, &f.rows); })),
        ROW(E_POINTER, Raised([&] { SHMSPConfig::GetSHMSPServices(f.admin, nullptr); })),
        ROW(E_POINTER, Raised([&] { SHMSPConfig::GetSHMSPServiceUID(nullptr, L"a.mdc", &f.uid); })),
        ROW(E_POINTER, Raised([&] { SHMSPConfig::GetSHMSPServiceUID(f.admin, L"a.mdc", nullptr); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::NumSHMSPServicesInProfile(nullptr); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::SHMSPServiceExists(nullptr, L"a.mdc"); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::AddSHMSPService(nullptr, L"k", L"a.mdc", L"A"); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::RemoveSHMSPService(nullptr, L"k", L"a.mdc", false); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::RemoveAllSHMSPServices(nullptr, false); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::SetSHMSPServiceDisplayName(nullptr, L"a.mdc", L"A"); })),
        ROW(E_POINTER, Raised([&] { SHMSPConfig::OpenSHMSPMsgStore(nullptr, L"a.mdc", &f.opened); })),
        ROW(E_POINTER, Raised([&] { SHMSPConfig::OpenSHMSPMsgStore(f.session, L"a.mdc", nullptr); })),
        ROW(false, SHMSPConfig::GetProfileUID(nullptr, f.wide)),
        ROW(false, SHMSPConfig::IsSHMSPConfiguredInProfile(nullptr)),
        ROW(SHMSPProfileConfigNone, SHMSPConfig::GetSHMSPProfileConfiguration(nullptr, L"k")),
        ROW(S_OK,
            Raised([] { SHMSPConfig::SetSHMSPProfileConfiguration(nullptr, L"k", SHMSPProfileConfigOn); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::IsSHMSPConfiguredInProfileV8SP3(nullptr); })),
        ROW(E_POINTER, Raised([] { SHMSPConfig::SetSHMSPConfiguredInProfileV8SP3(nullptr, true); })),
        ROW(E_INVALIDARG, Raised([] { AutoReleaseMDCSHMSPSharedLock token(nullptr); })),
        ROW(false, WDSUtil::PersistWDSIndexingInfo(kNoWide, WDSIndexAdd)),
    };
    return rows;
}

ULONGLONG LogSize() {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(CDesktopLog::GetFilename().c_str(), GetFileExInfoStandard, &data);
    return (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Child: runs the rows from the one named, printing "<row>=<answer> <1 when
// the log grew>" after each.
HK_SCENARIO(NullArgRows) {
    Fixture f;
    f.log.LogText(LOG_ERROR, "Null argument rows\n"); // opens the log file
    const std::vector<Row>& rows = Rows();
    for (size_t i = std::stoul(args.at(0)); i < rows.size(); ++i) {
        const ULONGLONG before = LogSize();
        const Answer answer = rows[i].call(f);
        std::printf("%zu=%llx %d\n", i, answer, LogSize() > before);
        std::fflush(stdout);
    }
    return 0;
}

TEST(NullArgs, EveryOperationAnswersANullClearlyAndLogsIt) {
    const std::vector<Row>& rows = Rows();
    for (size_t next = 0; next < rows.size();) {
        hk::test::LoggedRun run =
            hk::test::RunLoggedScenario("NullArgRows", {std::to_wstring(next)}, LOG_ERROR);
        for (; next < rows.size() && run.values.count(std::to_string(next)) != 0; ++next) {
            char expected[32];
            std::snprintf(expected, sizeof(expected), "%llx 1", rows[next].expected);
            EXPECT_EQ(expected, run.values[std::to_string(next)]) << rows[next].name << " (answer, logged)";
        }
        if (next < rows.size()) {
            ADD_FAILURE() << rows[next].name << " ended the process, exit code " << std::hex
                          << run.result.exitCode;
            ++next;
        }
    }
}

} // namespace
