// The cache store's named property schema and its resolution on a store.
#include "include/hearthkit/PSTNamedProperties.h"

#include "include/hearthkit/CDesktopLog.h"
#include "include/hearthkit/HkResult.h"
#include "include/hearthkit/MAPILoader.h"
#include "mapi/MapiExtras.h"

#include <comdef.h>
#include <mapicode.h>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace MDC {
namespace {

const ULONG kPropCount = 95;

// One property: a string name, or (name null) a numeric id; set null is the
// own set.
struct NamedPropDef {
    const wchar_t* name;
    LONG id;
    ULONG type;
    const GUID* set;
};

const NamedPropDef kProps[kPropCount] = {
    {L"HC_PVID", 0, PT_UNICODE, nullptr},
    {L"HC_SSID", 0, PT_UNICODE, nullptr},
    {L"HC_SNUM", 0, PT_LONG, nullptr},
    {L"HC_CacheState", 0, PT_LONG, nullptr},
    {L"HC_SHServerNewFolderRootID", 0, PT_BINARY, nullptr},
    {L"HC_SHServerNewFolder", 0, PT_BOOLEAN, nullptr},
    {L"HC_TargetName", 0, PT_UNICODE, nullptr},
    {L"HC_TargetParentPVID", 0, PT_UNICODE, nullptr},
    {L"HC_FolderIcon", 0, PT_LONG, nullptr},
    {L"HC_PendingServerDelete", 0, PT_BOOLEAN, nullptr},
    {L"HC_SyncPoint", 0, PT_LONG, nullptr},
    {L"HC_HighestEverSyncPoint", 0, PT_LONG, nullptr},
    {L"HC_FullSyncCount", 0, PT_LONG, nullptr},
    {L"HC_IncrSyncSequenceNumberCheckpoint", 0, PT_LONG, nullptr},
    {L"HC_FullSyncMinSequenceNumberCheckpoint", 0, PT_LONG, nullptr},
    {L"HC_FullSyncMaxSequenceNumberCheckpoint", 0, PT_LONG, nullptr},
    {L"HC_MessageFullSyncCreated", 0, PT_LONG, nullptr},
    {L"HC_MessageFullSyncVisited", 0, PT_LONG, nullptr},
    {L"HC_ToBeDeletedMessagesRootID", 0, PT_BINARY, nullptr},
    {L"HC_ToBeDeletedMessages", 0, PT_BOOLEAN, nullptr},
    {L"HC_CreatedMessagesRootID", 0, PT_BINARY, nullptr},
    {L"HC_CreatedMessages", 0, PT_BOOLEAN, nullptr},
    {L"HC_ArchivedMessageSize", 0, PT_LONG, nullptr},
    {L"HC_Date", 0, PT_UNICODE, nullptr},
    {L"HC_RetentionCategoryIdentifier", 0, PT_UNICODE, nullptr},
    {L"HC_DType", 0, PT_UNICODE, nullptr},
    {L"HC_ArchiveVEID", 0, PT_UNICODE, nullptr},
    {L"HC_ArchiveName", 0, PT_UNICODE, nullptr},
    {L"HC_EnabledState", 0, PT_BOOLEAN, nullptr},
    {L"HC_LastSyncTime", 0, PT_I8, nullptr},
    {L"HC_SyncState", 0, PT_LONG, nullptr},
    {L"HC_Version", 0, PT_LONG, nullptr},
    {L"HC_RCMap", 0, PT_BINARY, nullptr},
    {L"HC_Structured", 0, PT_LONG, nullptr},
    {L"HC_IndexingLevel", 0, PT_LONG, nullptr},
    {L"HC_PrivateVisible", 0, PT_LONG, nullptr},
    {L"HC_ArchiveType", 0, PT_LONG, nullptr},
    {L"HC_WebAppURL", 0, PT_UNICODE, nullptr},
    {L"HC_ArchiveAccessible", 0, PT_BOOLEAN, nullptr},
    {L"HC_InfoMessageID", 0, PT_BINARY, nullptr},
    {L"HC_PersistedServerTree", 0, PT_BINARY, nullptr},
    {L"HC_FullSyncPointTargetForResume", 0, PT_LONG, nullptr},
    {L"Keywords", 0, PT_MV_UNICODE, &PS_PUBLIC_STRINGS},
    {L"HC_SHMSPNextOperationSnum", 0, PT_LONG, nullptr},
    {L"HC_SHMSPCreated", 0, PT_LONG, nullptr},
    {L"HC_SHMSPMoved", 0, PT_LONG, nullptr},
    {L"HC_SHMSPToArchiveSearchRootID", 0, PT_BINARY, nullptr},
    {L"HC_SHMSPToArchiveSearch", 0, PT_BOOLEAN, nullptr},
    {L"HC_SHMSPMovedSearchRootID", 0, PT_BINARY, nullptr},
    {L"HC_SHMSPMovedSearch", 0, PT_BOOLEAN, nullptr},
    {L"HC_SHMSPDeleteRecordRootID", 0, PT_BINARY, nullptr},
    {L"HC_UpdateItemRetentionCategories", 0, PT_BOOLEAN, nullptr},
    {L"SH_LocalisedResources", 0, PT_UNICODE, nullptr},
    {L"HC_ExistsInMBX", 0, PT_BOOLEAN, nullptr},
    {nullptr, 0x820D, PT_SYSTIME, &PSETID_Appointment}, // AppointmentStartWhole
    {nullptr, 0x820E, PT_SYSTIME, &PSETID_Appointment}, // AppointmentEndWhole
    {nullptr, 0x8005, PT_UNICODE, &PSETID_Address},     // FileUnder
    {L"HC_FolderDeletable", 0, PT_BOOLEAN, nullptr},
    {L"HC_ManagedFolder", 0, PT_BOOLEAN, nullptr},
    {L"HC_SHMSPDeleted", 0, PT_LONG, nullptr},
    {L"HV_AllowArchive", 0, PT_BOOLEAN, nullptr},
    {L"HV_AllowReOrg", 0, PT_BOOLEAN, nullptr},
    {L"HV_AllowHardDelete", 0, PT_BOOLEAN, nullptr},
    {L"HV_AllowIntraStoreCopy", 0, PT_BOOLEAN, nullptr},
    {L"HV_AllowInterStoreCopyMove", 0, PT_BOOLEAN, nullptr},
    {L"HV_DenyMultiContentlessOpsAbove", 0, PT_LONG, nullptr},
    {nullptr, 0x8208, PT_UNICODE, &PSETID_Appointment}, // Location
    {nullptr, 0x8105, PT_SYSTIME, &PSETID_Task},        // TaskDueDate
    {nullptr, 0x810F, PT_SYSTIME, &PSETID_Task},        // TaskDateCompleted
    {nullptr, 0x8101, PT_LONG, &PSETID_Task},           // TaskStatus
    {L"HC_ItemArchiveAttempts", 0, PT_LONG, nullptr},
    {L"HV_MessageClassInclude", 0, PT_UNICODE, nullptr},
    {L"HC_MaxMessageSizeToArchiveMB", 0, PT_LONG, nullptr},
    {L"HC_MaxTotalToArchiveMB", 0, PT_LONG, nullptr},
    {L"HC_SHMSPCouldNotArchiveSearchRootID", 0, PT_BINARY, nullptr},
    {L"HC_SHMSPCouldNotArchiveSearch", 0, PT_BOOLEAN, nullptr},
    {L"HC_SHMSPToArchiveSearchMsgID", 0, PT_BINARY, nullptr},
    {L"HC_SHMSPCouldNotArchiveSearchMsgID", 0, PT_BINARY, nullptr},
    {L"HC_SHMSPPendingTruncationSearchRootID", 0, PT_BINARY, nullptr},
    {L"HC_SHMSPPendingTruncationSearch", 0, PT_BOOLEAN, nullptr},
    {L"HV_MDCUniqueID", 0, PT_UNICODE, nullptr},
    {L"HC_ServerVersion", 0, PT_UNICODE, nullptr},
    {L"HV_RemainingItemUpdates", 0, PT_BOOLEAN, nullptr},
    {L"HV_StubOnlyModuleList", 0, PT_UNICODE, nullptr},
    {L"HV_ForceReadOnly", 0, PT_BOOLEAN, nullptr},
    {L"HV_ReadingPaneContent", 0, PT_LONG, nullptr},
    {L"HV_PrimaryArchive", 0, PT_BOOLEAN, nullptr},
    {L"HV_FolderModifiedBySync", 0, PT_BOOLEAN, nullptr},
    {L"HV_ToArchiveSize", 0, PT_LONG, nullptr},
    {L"HC_InitialSyncComplete", 0, PT_BOOLEAN, nullptr},
    {L"HV_AutoSyncItemThreshold", 0, PT_LONG, nullptr},
    {L"HV_AutoSyncItemSizeThresholdMB", 0, PT_LONG, nullptr},
    {L"HV_ToArchiveCount", 0, PT_LONG, nullptr},
    {nullptr, 0x8223, PT_BOOLEAN, &PSETID_Appointment}, // Recurring
    {L"HC_MailboxState", 0, PT_LONG, nullptr},
};

// Resolution order is 0 to 77, these three, then 81 to 94: GetAllHVTags
// hands the own-set tags out in that order, and callers index into it.
const ULONG kResolveAfter77[] = {80, 78, 79};

ULONG ResolvedTag(IMsgStore* store, MAPINAMEID* name, ULONG propType) {
    LPMAPINAMEID names[] = {name};
    SPropTagArray* tags = nullptr;
    HRESULT hr = store->GetIDsFromNames(1, names, MAPI_CREATE, &tags);
    AutoPtrWithFreePolicy<SPropTagArray, MAPIFreeBufferPolicy> owner(tags);
    if (FAILED(hr)) {
        _com_issue_error(hr);
    }
    if (!tags || tags->cValues != 1) {
        _com_issue_error(E_UNEXPECTED);
    }
    // A name the store cannot map (its named ids used up) comes back
    // error-typed, with id 0: no property to write to.
    if (PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) {
        _com_issue_error(MAPI_E_NOT_FOUND);
    }
    // The id is MAPI's, the type the table's.
    return (tags->aulPropTag[0] & 0xFFFF0000) | propType;
}

// A string name in set (null: the own set); points into name.
MAPINAMEID StringName(const std::wstring& name, GUID* set) {
    MAPINAMEID mapiName = {};
    mapiName.lpguid = set ? set : const_cast<GUID*>(&hk::mapi::kProductPropertySet);
    mapiName.ulKind = MNID_STRING;
    mapiName.Kind.lpwstrName = const_cast<wchar_t*>(name.c_str());
    return mapiName;
}

PSTNamedProperties::TagArray CopyTags(const std::vector<ULONG>& tags, ULONG capacity) {
    void* buffer = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewSPropTagArray(capacity), &buffer);
    if (FAILED(hr)) {
        _com_issue_error(hr);
    }
    PSTNamedProperties::TagArray array(static_cast<SPropTagArray*>(buffer));
    array->cValues = static_cast<ULONG>(tags.size());
    if (!tags.empty()) {
        std::memcpy(array->aulPropTag, tags.data(), tags.size() * sizeof(ULONG));
    }
    return array;
}

} // namespace

PSTNamedProperties::PSTNamedProperties(IMsgStore* store) : m_tags(kPropCount, 0) {
    if (store == nullptr) {
        CDesktopLog log("PSTNamedProperties::PSTNamedProperties");
        HkNullArgument(log, "store");
        return;
    }
    auto resolve = [&](ULONG index) {
        const NamedPropDef& def = kProps[index];
        GUID* set = const_cast<GUID*>(def.set);
        m_tags[index] =
            def.name ? GetTag(store, def.name, def.type, set) : GetTag(store, def.id, def.type, set);
    };
    for (ULONG i = 0; i <= 77; ++i) {
        resolve(i);
    }
    for (ULONG i : kResolveAfter77) {
        resolve(i);
    }
    for (ULONG i = 81; i < kPropCount; ++i) {
        resolve(i);
    }
    for (ULONG tag : m_tags) {
        if (tag == 0) {
            throw std::logic_error("One or more named property tags have not been initialised");
        }
    }
}

PSTNamedProperties::~PSTNamedProperties() = default;

ULONG PSTNamedProperties::GetTag(NAMEDPROP prop) const {
    if (static_cast<int>(prop) < 0 || static_cast<ULONG>(prop) >= kPropCount) {
        throw std::invalid_argument("Invalid named property enum");
    }
    return m_tags[prop];
}

PSTNamedProperties::TagArray PSTNamedProperties::GetAllTags() const {
    return CopyTags(m_tags, kPropCount);
}

PSTNamedProperties::TagArray PSTNamedProperties::GetAllHVTags() const {
    return CopyTags(m_hvTags, kPropCount);
}

ULONG PSTNamedProperties::GetTagByName(IMsgStore* store, const std::wstring& name, ULONG propType,
                                       GUID* set) {
    if (store == nullptr) {
        CDesktopLog log("PSTNamedProperties::GetTagByName");
        _com_issue_error(HkNullArgument(log, "store", E_POINTER));
    }
    MAPINAMEID mapiName = StringName(name, set);
    return ResolvedTag(store, &mapiName, propType);
}

ULONG PSTNamedProperties::GetTag(IMsgStore* store, const std::wstring& name, ULONG propType, GUID* set) {
    MAPINAMEID mapiName = StringName(name, set);
    return GetTagIDFromMAPIName(store, &mapiName, name, propType);
}

ULONG PSTNamedProperties::GetTag(IMsgStore* store, LONG id, ULONG propType, GUID* set) {
    wchar_t key[16];
    _snwprintf(key, 16, L"%x", static_cast<unsigned>(id));
    key[15] = L'\0';
    MAPINAMEID mapiName = {};
    mapiName.lpguid = set ? set : const_cast<GUID*>(&hk::mapi::kProductPropertySet);
    mapiName.ulKind = MNID_ID;
    mapiName.Kind.lID = id;
    return GetTagIDFromMAPIName(store, &mapiName, key, propType);
}

ULONG PSTNamedProperties::GetTagIDFromMAPIName(IMsgStore* store, MAPINAMEID* name, const std::wstring& key,
                                               ULONG propType) {
    auto cached = m_cache.find(key);
    if (cached != m_cache.end()) {
        return cached->second;
    }
    ULONG tag = ResolvedTag(store, name, propType);
    m_cache[key] = tag;
    if (IsEqualGUID(*name->lpguid, hk::mapi::kProductPropertySet)) {
        m_hvTags.push_back(tag);
    }
    return tag;
}

} // namespace MDC
