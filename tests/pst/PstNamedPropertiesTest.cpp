// The named property table resolved on PST stores of the stand-in.
#include "PstTestEnv.h"

#include <stdexcept>

namespace {

using psttest::TestHelper;
using Tags = MDC::PSTNamedProperties::TagArray;

GUID kPublicStrings = {0x00020329, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
GUID kAppointment = {0x00062002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
GUID kAddress = {0x00062004, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class PstNamedProperties : public psttest::PstTest {
protected:
    // A numeric name's tag as the store assigns it, asked for directly.
    static ULONG NumericTag(IMsgStore* store, LONG id, GUID* set) {
        MAPINAMEID name = {};
        name.lpguid = set;
        name.ulKind = MNID_ID;
        name.Kind.lID = id;
        LPMAPINAMEID names[] = {&name};
        Tags tags;
        EXPECT_EQ(S_OK, store->GetIDsFromNames(1, names, MAPI_CREATE, tags.put()));
        return tags ? tags->aulPropTag[0] : 0;
    }
    static std::string What(const std::exception& e) { return e.what(); }
};

TEST_F(PstNamedProperties, WithoutAStoreEveryTagIsZero) {
    MDC::PSTNamedProperties names(nullptr);
    Tags all = names.GetAllTags();
    ASSERT_EQ(95u, all->cValues);
    for (ULONG i = 0; i < 95; ++i) {
        EXPECT_EQ(0u, all->aulPropTag[i]);
        EXPECT_EQ(0u, names.GetTag(static_cast<MDC::NAMEDPROP>(i)));
    }
    EXPECT_EQ(0u, names.GetAllHVTags()->cValues);
    for (int bad : {95, -1}) {
        try {
            names.GetTag(static_cast<MDC::NAMEDPROP>(bad));
            ADD_FAILURE() << bad << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ("Invalid named property enum", What(e));
        }
    }
    MapiStandinFailCall("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, 1, nullptr);
    try {
        names.GetAllTags();
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& e) {
        EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, e.Error());
    }
}

TEST_F(PstNamedProperties, AllNinetyFiveResolveWithTheTablesNamesTypesAndSets) {
    TestHelper helper(m_session);
    std::wstring path = m_dir.File(L"names.pst");
    ASSERT_EQ(S_OK, helper.OpenNamedPST(path.c_str(), CDesktopPSTHelperBase::CreateNew));
    CComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, helper.GetStore(&store));
    MapiStandinReset();
    MDC::PSTNamedProperties names(store);
    EXPECT_EQ(95u, MapiStandinCallCount("IMsgStore::GetIDsFromNames")) << "one call per name";

    Tags all = names.GetAllTags();
    ASSERT_EQ(95u, all->cValues);
    for (ULONG i = 0; i < 95; ++i) {
        EXPECT_GE(PROP_ID(all->aulPropTag[i]), 0x8000u) << i;
        EXPECT_EQ(all->aulPropTag[i], names.GetTag(static_cast<MDC::NAMEDPROP>(i)));
    }
    // A few entries checked against names asked for independently.
    EXPECT_EQ(names.GetTag(MDC::HC_SyncPoint),
              MDC::PSTNamedProperties::GetTagByName(store, L"HC_SyncPoint", PT_LONG, nullptr));
    EXPECT_EQ(names.GetTag(MDC::HC_LastSyncTime),
              MDC::PSTNamedProperties::GetTagByName(store, L"HC_LastSyncTime", PT_I8, nullptr));
    EXPECT_EQ(names.GetTag(MDC::HV_MDCUniqueID),
              MDC::PSTNamedProperties::GetTagByName(store, L"HV_MDCUniqueID", PT_UNICODE, nullptr));
    EXPECT_EQ(names.GetTag(MDC::Keywords),
              MDC::PSTNamedProperties::GetTagByName(store, L"Keywords", PT_MV_UNICODE, &kPublicStrings));
    EXPECT_EQ(names.GetTag(MDC::AppointmentStartWhole),
              PROP_TAG(PT_SYSTIME, PROP_ID(NumericTag(store, 0x820D, &kAppointment))));
    EXPECT_EQ(names.GetTag(MDC::Recurring),
              PROP_TAG(PT_BOOLEAN, PROP_ID(NumericTag(store, 0x8223, &kAppointment))));
    EXPECT_EQ(names.GetTag(MDC::FileUnder),
              PROP_TAG(PT_UNICODE, PROP_ID(NumericTag(store, 0x8005, &kAddress))));
    EXPECT_EQ(static_cast<ULONG>(PT_MV_UNICODE), PROP_TYPE(names.GetTag(MDC::Keywords)));
    EXPECT_EQ(static_cast<ULONG>(PT_I8), PROP_TYPE(names.GetTag(MDC::HC_LastSyncTime)));

    // The own set's tags in resolution order: 78 and 79 come after 80.
    Tags own = names.GetAllHVTags();
    ASSERT_EQ(86u, own->cValues);
    EXPECT_EQ(names.GetTag(MDC::HC_PVID), own->aulPropTag[0]);
    EXPECT_EQ(names.GetTag(MDC::HC_SHMSPCouldNotArchiveSearchMsgID), own->aulPropTag[69]);
    EXPECT_EQ(names.GetTag(MDC::HV_MDCUniqueID), own->aulPropTag[70]);
    EXPECT_EQ(names.GetTag(MDC::HC_SHMSPPendingTruncationSearchRootID), own->aulPropTag[71]);
    EXPECT_EQ(names.GetTag(MDC::HC_SHMSPPendingTruncationSearch), own->aulPropTag[72]);
    EXPECT_EQ(names.GetTag(MDC::HC_MailboxState), own->aulPropTag[85]);

    // The same tags on the file closed and opened again.
    std::vector<ULONG> before(all->aulPropTag, all->aulPropTag + 95);
    store.Release();
    helper.ClosePST(true);
    TestHelper reopened(m_session);
    ASSERT_EQ(S_OK, reopened.OpenNamedPST(path.c_str(), CDesktopPSTHelperBase::OpenExisting));
    ASSERT_EQ(S_OK, reopened.GetStore(&store));
    Tags again = MDC::PSTNamedProperties(store).GetAllTags();
    EXPECT_EQ(before, std::vector<ULONG>(again->aulPropTag, again->aulPropTag + 95));
}

TEST_F(PstNamedProperties, AFailedResolutionThrowsMAPIsResult) {
    TestHelper helper(m_session);
    ASSERT_EQ(S_OK, helper.OpenNamedPST(m_dir.File(L"f.pst").c_str(), CDesktopPSTHelperBase::CreateNew));
    CComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, helper.GetStore(&store));
    for (const char* step : {"construction", "GetTagByName"}) {
        SCOPED_TRACE(step);
        MapiStandinFailCall("IMsgStore::GetIDsFromNames", MAPI_E_NO_ACCESS, 1, nullptr);
        try {
            if (step[0] == 'c') {
                MDC::PSTNamedProperties names(store);
            } else {
                MDC::PSTNamedProperties::GetTagByName(store, L"HC_PVID", PT_UNICODE, nullptr);
            }
            ADD_FAILURE() << "no exception";
        } catch (const _com_error& e) {
            EXPECT_EQ(MAPI_E_NO_ACCESS, e.Error());
        }
    }
}

} // namespace
