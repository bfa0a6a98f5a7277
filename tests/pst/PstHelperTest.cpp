// The PST helper on the stand-in: opening in every mode, the service that
// never stays in the profile, the busy-file wait, the handlers' tags, bad
// input, the temporary profile and copies.
#include "HearthkitUtil.h"
#include "PstTestEnv.h"

#include <thread>

namespace {

using psttest::TestHelper;

class PstHelper : public psttest::PstTest {};

std::wstring RootFolderName(const CDesktopPSTHelperBase& helper) {
    CComPtr<IMAPIFolder> root;
    EXPECT_EQ(S_OK, helper.GetRootFolder(&root));
    if (!root) {
        return L"";
    }
    AutoPtrWithFreePolicy<SPropValue, MAPIFreeBufferPolicy> name;
    EXPECT_EQ(S_OK, HrGetOneProp(root, PR_DISPLAY_NAME_W, name.put()));
    return name ? name->Value.lpszW : L"";
}

TEST_F(PstHelper, CreateOpenUseCloseAndDeleteLeavesTheProfileAsItWas) {
    std::wstring path = m_dir.File(L"new.pst");
    TestHelper helper(m_session);
    CComPtr<IMsgStore> store;
    EXPECT_EQ(E_INVALIDARG, helper.GetStore(nullptr));

    ASSERT_EQ(S_OK, helper.OpenNamedPST(path.c_str(), CDesktopPSTHelperBase::CreateNew));
    EXPECT_EQ(0u, ServiceCount()) << "the service goes again while the store stays open";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str())) << "the service made the file";
    EXPECT_TRUE(helper.IsUnicode());
    EXPECT_TRUE(helper.InUse());
    EXPECT_EQ(0u, MapiStandinLastFlags("IMsgServiceAdmin::CreateMsgService"));
    EXPECT_EQ(0u, MapiStandinLastFlags("IMsgServiceAdmin::ConfigureMsgService"));
    EXPECT_EQ(ULONG(MAPI_BEST_ACCESS | MDB_NO_MAIL), MapiStandinLastFlags("IMAPISession::OpenMsgStore"));
    EXPECT_EQ(L"Top of Information Store", RootFolderName(helper));
    EXPECT_EQ(ULONG(MAPI_BEST_ACCESS), MapiStandinLastFlags("IMsgStore::OpenEntry"));
    ASSERT_EQ(S_OK, helper.GetStore(&store));
    store.Release();

    EXPECT_TRUE(helper.ClosePST(false));
    EXPECT_FALSE(helper.ClosePST(false));
    EXPECT_TRUE(helper.InUse()) << "closing the store alone keeps the configuration";
    IMsgStore* unset = reinterpret_cast<IMsgStore*>(0xdeadbeef);
    EXPECT_EQ(E_FAIL, helper.GetStore(&unset)) << "no store once closed";
    EXPECT_EQ(reinterpret_cast<IMsgStore*>(0xdeadbeef), unset);
    EXPECT_EQ(S_OK, helper.DeletePST());
    EXPECT_FALSE(helper.InUse());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), helper.DeletePST());
}

TEST_F(PstHelper, ModesChooseTheServiceAndWhetherTheFileIsReplaced) {
    std::wstring path = m_dir.File(L"modes.pst");
    {
        TestHelper ansi(m_session, false, true);
        ASSERT_EQ(S_OK, ansi.OpenNamedPST(path.c_str(), CDesktopPSTHelperBase::CreateNewANSI));
        EXPECT_FALSE(ansi.IsUnicode()) << "the ANSI service's store";
        EXPECT_EQ(ULONG(SERVICE_UI_ALLOWED), MapiStandinLastFlags("IMsgServiceAdmin::ConfigureMsgService"));
    }
    // One helper opening the file again and again: each open adds a service
    // of its own and looks its store up anew. A message written into the
    // file survives OpenExisting and goes with CreateNew.
    TestHelper helper(m_session);
    ASSERT_EQ(S_OK, helper.OpenNamedPST(path.c_str(), CDesktopPSTHelperBase::OpenExisting));
    EXPECT_TRUE(helper.IsUnicode());
    std::wstring messageId;
    {
        CComPtr<IMAPIFolder> root;
        ASSERT_EQ(S_OK, helper.GetRootFolder(&root));
        CComPtr<IMessage> message;
        ASSERT_EQ(S_OK, root->CreateMessage(nullptr, 0, &message));
        ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
        AutoPtrWithFreePolicy<SPropValue, MAPIFreeBufferPolicy> id;
        ASSERT_EQ(S_OK, HrGetOneProp(message, PR_ENTRYID, id.put()));
        int size = 2 * id->Value.bin.cb + 1;
        messageId.resize(size);
        ASSERT_EQ(S_OK, HearthkitUtil::HexStrToWchar(id->Value.bin, messageId, size));
    }
    for (auto mode : {CDesktopPSTHelperBase::OpenExisting, CDesktopPSTHelperBase::CreateNew}) {
        EXPECT_TRUE(helper.ClosePST(false));
        ASSERT_EQ(S_OK, helper.OpenNamedPST(path.c_str(), mode));
        MapiStandinReset();
        CComPtr<IMessage> message;
        HRESULT hr = helper.OpenItemByEntryId(messageId.c_str(), &message);
        EXPECT_EQ(mode == CDesktopPSTHelperBase::OpenExisting, SUCCEEDED(hr)) << std::hex << hr;
        EXPECT_EQ(ULONG(MAPI_BEST_ACCESS), MapiStandinLastFlags("IMsgStore::OpenEntry"));
    }
    EXPECT_EQ(0u, ServiceCount());
}

TEST_F(PstHelper, BadInputGetsItsResultAndLeavesNoService) {
    std::wstring notAStore = m_dir.File(L"text.pst");
    ASSERT_TRUE(hk::test::WriteFileBytes(notAStore, "not a store file", 16));
    struct Case {
        const wchar_t* path;
        CDesktopPSTHelperBase::OpenMode mode;
        HRESULT expected;
        const wchar_t* tag;
    } cases[] = {
        {nullptr, CDesktopPSTHelperBase::OpenExisting, E_POINTER, nullptr},
        {L"", CDesktopPSTHelperBase::CreateNew, E_INVALIDARG, nullptr},
        // The service cannot make the file: MAPI's text comes as the detail.
        {L"C:\\no such dir\\x.pst", CDesktopPSTHelperBase::OpenExisting, E_FAIL,
         L"[CMS3] The personal folders file could not be created."},
        {L"C:\\no such dir\\x.pst", CDesktopPSTHelperBase::CreateNew,
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), nullptr},
        {notAStore.c_str(), CDesktopPSTHelperBase::OpenExisting, E_FAIL,
         L"[CMS3] The personal folders file could not be created."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path ? hk::test::Narrow(c.path) : "(null)");
        TestHelper helper(m_session);
        EXPECT_EQ(c.expected, helper.OpenNamedPST(c.path, c.mode));
        EXPECT_EQ(0u, ServiceCount());
        EXPECT_FALSE(helper.InUse());
        ASSERT_EQ(c.tag ? 1u : 0u, helper.seen.size());
        if (c.tag) {
            EXPECT_EQ(c.tag, helper.seen[0]);
        }
    }
    // Entry ids in hexadecimal that are none, on an open store.
    TestHelper helper(m_session);
    ASSERT_EQ(S_OK, helper.OpenNamedPST(m_dir.File(L"ok.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
    for (const wchar_t* hex : {L"ABC", L"0G12", L"", static_cast<const wchar_t*>(nullptr)}) {
        IMessage* message = reinterpret_cast<IMessage*>(0xdeadbeef);
        EXPECT_EQ(E_INVALIDARG, helper.OpenItemByEntryId(hex, &message));
        EXPECT_EQ(reinterpret_cast<IMessage*>(0xdeadbeef), message);
    }
    EXPECT_EQ(E_INVALIDARG, helper.OpenItemByEntryId(L"00", nullptr));
    helper.ClosePST(false);
    CComPtr<IMessage> message;
    EXPECT_EQ(E_FAIL, helper.OpenItemByEntryId(L"0011", &message)) << "no store open";
}

TEST_F(PstHelper, EveryFailingStepReachesItsHandlerWithItsTag) {
    struct Case {
        const char* call;
        HRESULT fault;
        ULONG times;
        HRESULT expected;
        const wchar_t* tags; // the handlers saw, in order, joined by '|'
        bool ownSession = false;
        const char* calledOnce = nullptr;
    } cases[] = {
        {"IMsgServiceAdmin::GetMsgServiceTable", E_ACCESSDENIED, 1, E_ACCESSDENIED, L"[GMST1]"},
        {"HrQueryAllRows", E_OUTOFMEMORY, 1, E_OUTOFMEMORY, L"[HQAR1]"},
        {"IMsgServiceAdmin::CreateMsgService", MAPI_E_NOT_FOUND, 1, MAPI_E_NOT_FOUND, L"[CMS1]"},
        {"IMsgServiceAdmin::CreateMsgService", E_ACCESSDENIED, 1, E_ACCESSDENIED, L"[CMS2]"},
        // Refused twice: once, and once more after the profile was repaired.
        {"IMsgServiceAdmin::ConfigureMsgService", E_ACCESSDENIED, 2, E_ACCESSDENIED, L"[CMS3]"},
        // Refused once: the provider's section opened to write and repaired,
        // and configured on the retry.
        {"IMsgServiceAdmin::ConfigureMsgService", E_ACCESSDENIED, 1, S_OK, L"", false, "IProfSect::SetProps"},
        // Success without a service added: none new is found, the handler's
        // success lets the open go on with none, and it is removed all the same.
        {"IMsgServiceAdmin::CreateMsgService", S_FALSE, 1, MAPI_E_NOT_FOUND, L"[PFNF]|[CMS3]", false,
         "IMsgServiceAdmin::DeleteMsgService"},
        // The helper's own session makes the configured store its default.
        {"IMAPISession::SetDefaultStore", E_ACCESSDENIED, 1, E_ACCESSDENIED, L"[CPST2]", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.call << " " << c.times);
        MapiStandinFailCall(c.call, c.fault, c.times, nullptr);
        TestHelper helper(m_session, c.ownSession);
        EXPECT_EQ(c.expected,
                  helper.OpenNamedPST(m_dir.File(L"t.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
        std::wstring tags;
        for (const std::wstring& tag : helper.seen) {
            tags += (tags.empty() ? L"" : L"|") + tag;
        }
        EXPECT_EQ(c.tags, tags);
        if (c.calledOnce) {
            EXPECT_EQ(1u, MapiStandinCallCount(c.calledOnce));
        }
        if (c.expected == S_OK) {
            EXPECT_EQ(ULONG(MAPI_MODIFY | 0x00080000), // MAPI_FORCE_ACCESS
                      MapiStandinLastFlags("IProviderAdmin::OpenProfileSection"));
        }
        EXPECT_EQ(0u, ServiceCount());
        MapiStandinReset();
    }
}

// The table read after the creation answers rows without values: the new
// service cannot be told from the others there, so it is looked for again
// and removed rather than left in the user's profile.
TEST_F(PstHelper, ANewServiceThatCannotBeIdentifiedIsRemovedAgain) {
    MapiStandinRowsWithoutValues(1, 1);
    TestHelper helper(m_session);
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              helper.OpenNamedPST(m_dir.File(L"lost.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
    ASSERT_FALSE(helper.seen.empty());
    EXPECT_EQ(L"[PFNF]", helper.seen[0]);
    EXPECT_EQ(0u, ServiceCount());
}

// A file in use elsewhere is tried again a second or so apart, each open
// once more after the profile's repair (the ANSI service's profile is not
// repaired, so its try is one open), until it opens or the stop event is
// set. No wait asked, no event, another context or an event that cannot be
// waited on (the wait's error) make it one try, at once.
TEST_F(PstHelper, ABusyFileIsWaitedForUntilItOpensOrTheStopEventIsSet) {
    hk::unique_handle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE closed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::CloseHandle(closed);
    const auto existing = CDesktopPSTHelperBase::OpenExisting, ansi = CDesktopPSTHelperBase::CreateNewANSI,
               created = CDesktopPSTHelperBase::CreateNew;
    const ULONG busy = psttest::kBusyContext;
    struct Case {
        bool wait;
        HANDLE event;
        ULONG context, refusals;
        CDesktopPSTHelperBase::OpenMode mode;
        HRESULT expected;
        ULONG opens;
        DWORD atLeast, below, stopAfter = 0;
    } cases[] = {
        {true, stop.get(), busy, 4, created, S_OK, 5, 1900, 6000},
        {false, stop.get(), busy, 100, existing, MAPI_E_EXTENDED_ERROR, 2, 0, 900},
        {true, nullptr, busy, 100, existing, MAPI_E_EXTENDED_ERROR, 2, 0, 900},
        {true, stop.get(), 0x100D0202, 100, existing, MAPI_E_EXTENDED_ERROR, 2, 0, 900},
        {true, closed, busy, 100, existing, HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), 2, 0, 900},
        {false, nullptr, busy, 100, ansi, MAPI_E_EXTENDED_ERROR, 1, 0, 900},
        {true, stop.get(), busy, 1000, existing, MAPI_E_EXTENDED_ERROR, 0, 1400, 4000, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        psttest::FailWithBusyStore(c.refusals, c.context);
        TestHelper helper(m_session);
        std::thread stopper([&] {
            if (c.stopAfter) {
                ::Sleep(c.stopAfter);
                ::SetEvent(stop.get());
            }
        });
        DWORD start = ::GetTickCount();
        EXPECT_EQ(c.expected, helper.OpenNamedPST(m_dir.File(L"busy.pst").c_str(), c.wait, c.event, c.mode));
        DWORD elapsed = ::GetTickCount() - start;
        stopper.join();
        if (c.opens) {
            EXPECT_EQ(c.opens, MapiStandinCallCount("IMAPISession::OpenMsgStore"));
        }
        EXPECT_GE(elapsed, c.atLeast);
        EXPECT_LT(elapsed, c.below);
        EXPECT_EQ(0u, ServiceCount());
        MapiStandinReset();
    }
}

// The temporary profiles in MAPI's registry, listed or not.
std::vector<std::wstring> TemporaryProfiles() {
    std::vector<std::wstring> names;
    CRegKey profiles;
    if (profiles.Open(
            HKEY_CURRENT_USER,
            L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
            KEY_READ) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0; ::RegEnumKeyW(profiles, i, name, 256) == ERROR_SUCCESS; ++i) {
        if (std::wcsncmp(name, L"Stowhaven_", 10) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

TEST_F(PstHelper, OwnSessionIsOnATemporaryProfileThatIsGoneAfterTheLogon) {
    const std::vector<std::wstring> earlier = TemporaryProfiles();
    IMAPISession* session = reinterpret_cast<IMAPISession*>(0xdeadbeef);
    MapiStandinFailCall("MAPILogonEx", MAPI_E_LOGON_FAILED, 1, nullptr);
    EXPECT_EQ(MAPI_E_LOGON_FAILED, CDesktopPSTHelperBase::OpenMAPISession(&session, true));
    EXPECT_EQ(reinterpret_cast<IMAPISession*>(0xdeadbeef), session);
    EXPECT_EQ(earlier, TemporaryProfiles()) << "a profile no session uses is not kept";
    MapiStandinFailCall("IProfAdmin::CreateProfile", E_ACCESSDENIED, 1, nullptr);
    EXPECT_EQ(E_ACCESSDENIED, CDesktopPSTHelperBase::OpenMAPISession(&session, true));
    EXPECT_EQ(E_INVALIDARG, CDesktopPSTHelperBase::OpenMAPISession(nullptr, true));
    MapiStandinReset();

    // Sessions made one after the other, many within one tick, each on a
    // temporary profile of its own while the others still use theirs; a
    // session of its own, or one others may share.
    {
        std::vector<CComPtr<IMAPISession>> sessions(20);
        for (size_t i = 0; i < sessions.size(); ++i) {
            ASSERT_EQ(S_OK, CDesktopPSTHelperBase::OpenMAPISession(&sessions[i], i % 2 == 0));
            EXPECT_EQ(ULONG(i % 2 == 0 ? MAPI_NEW_SESSION : MAPI_ALLOW_OTHERS),
                      MapiStandinLastFlags("MAPILogonEx"));
        }
    }
    MapiStandinReset();

    {
        TestHelper helper(nullptr); // makes its own session
        EXPECT_EQ(1u, MapiStandinCallCount("IProfAdmin::CreateProfile"));
        EXPECT_EQ(2u, MapiStandinCallCount("IProfAdmin::DeleteProfile"))
            << "before the creation and after the logon";
        // The session outlives its profile and serves a whole PST round.
        std::wstring path = m_dir.File(L"own.pst");
        ASSERT_EQ(S_OK, helper.OpenNamedPST(path.c_str(), CDesktopPSTHelperBase::CreateNew));
        EXPECT_EQ(L"Top of Information Store", RootFolderName(helper));
        EXPECT_EQ(E_FAIL, helper.SetMAPISession(m_session)) << "only while none is attached";
        EXPECT_EQ(S_OK, helper.DeletePST());
    }
    EXPECT_EQ(earlier, TemporaryProfiles()) << "gone with the session";
}

TEST_F(PstHelper, ACopyOwnsItsOwnEntryIdAndReferences) {
    auto original = std::make_unique<TestHelper>(m_session);
    ASSERT_EQ(S_OK,
              original->OpenNamedPST(m_dir.File(L"copy.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
    LONG buffers = MapiStandinLiveBuffers();
    TestHelper copy(*original);
    EXPECT_EQ(buffers + 1, MapiStandinLiveBuffers()) << "the entry id copied into a buffer of its own";
    original.reset();
    EXPECT_TRUE(copy.IsUnicode());
    EXPECT_EQ(L"Top of Information Store", RootFolderName(copy));
    EXPECT_TRUE(copy.ClosePST(true));
}

} // namespace
