// SHMSPConfig: the SHMSP service instances of a MAPI profile, found by the
// MDC path their provider serves. Every failing MAPI call is raised as
// _com_error through CheckedHr; nothing is caught here.
#include "SHMSPConfig.h"
#include "provider/ShmspMapi.h"

#include "CDesktopLog.h"
#include "HkCom.h"
#include "HkResult.h"
#include "TidyMAPIBuffer.h"
#include "TidyRowSet.h"

#include <cstring>
#include <vector>

namespace hk {
namespace provider {
namespace {

// One-column tables: the column each query asks for.
enum UidColumn { uidColumn, uidColumnCount };
const SizedSPropTagArray(uidColumnCount, kServiceUidColumns) = {uidColumnCount, {PR_SERVICE_UID}};
const SizedSPropTagArray(uidColumnCount, kProviderUidColumns) = {uidColumnCount, {PR_PROVIDER_UID}};
const SizedSPropTagArray(uidColumnCount, kEntryIdColumns) = {uidColumnCount, {PR_ENTRYID}};

// The service name a restriction to SHMSP rows compares with.
SPropValue ShmspServiceName() {
    SPropValue v{};
    v.ulPropTag = PR_SERVICE_NAME_A;
    v.Value.lpszA = const_cast<char*>(kServiceName);
    return v;
}

// The row's first column as a 16-byte binary of tag, or null (a PT_ERROR
// column, a missing or mis-sized value).
const SBinary* BinaryColumn(const SRow& row, ULONG tag, ULONG size = 0) {
    return row.cValues < 1 || row.lpProps == nullptr ? nullptr
                                                     : hk::mapi::BinaryValue(row.lpProps[0], tag, size);
}

const MAPIUID* ServiceUid(const SRow& row) {
    const SBinary* bin = BinaryColumn(row, PR_SERVICE_UID, sizeof(MAPIUID));
    return bin ? reinterpret_cast<const MAPIUID*>(bin->lpb) : nullptr;
}

bool SameUid(const MAPIUID& a, const MAPIUID& b) {
    return std::memcmp(a.ab, b.ab, sizeof(a.ab)) == 0;
}

CComPtr<IMsgServiceAdmin> AdminServices(IMAPISession* session) {
    CComPtr<IMsgServiceAdmin> admin;
    CheckedHr check;
    check = session->AdminServices(0, &admin);
    return admin;
}

// The MDC path served by the service's single SHMSP provider; false when
// the service holds no such provider or several. A section without the
// path is an error, raised.
bool ServiceMdcPath(IMsgServiceAdmin* admin, const MAPIUID& service, std::wstring& mdcPath) {
    CheckedHr check;
    CComPtr<IProviderAdmin> providers;
    check = admin->AdminProviders(const_cast<MAPIUID*>(&service), 0, &providers);
    CComPtr<IMAPITable> table;
    check = providers->GetProviderTable(0, &table);
    SPropValue name = ShmspServiceName();
    SRestriction shmsp = hk::mapi::PropertyRestriction(RELOP_EQ, name);
    TidyRowSet rows;
    check = HrQueryAllRows(table, hk::mapi::TagArray(kProviderUidColumns), &shmsp, nullptr, 0, rows.put());
    if (rows->cRows != 1) {
        return false;
    }
    const SBinary* provider = BinaryColumn(rows->aRow[0], PR_PROVIDER_UID, sizeof(MAPIUID));
    if (provider == nullptr) {
        return false;
    }
    CComPtr<IProfSect> section;
    check = providers->OpenProfileSection(reinterpret_cast<MAPIUID*>(provider->lpb), nullptr,
                                          MAPI_FORCE_ACCESS, &section);
    TidyMAPIBuffer<SPropValue> path;
    check = HrGetOneProp(section, kTagMdcPath, path.put());
    if (path->ulPropTag != kTagMdcPath || path->Value.lpszW == nullptr) {
        _com_issue_error(MAPI_E_NOT_FOUND);
    }
    mdcPath = path->Value.lpszW;
    return true;
}

std::vector<MAPIUID> ServiceUids(const SRowSet& rows) {
    std::vector<MAPIUID> uids;
    for (ULONG i = 0; i < rows.cRows; ++i) {
        if (const MAPIUID* uid = ServiceUid(rows.aRow[i])) {
            uids.push_back(*uid);
        }
    }
    return uids;
}

// Raises MAPI_E_NOT_FOUND when the profile has no instance of mdcPath.
MAPIUID RequireInstance(IMsgServiceAdmin* admin, const std::wstring& mdcPath) {
    MAPIUID uid{};
    if (!SHMSPConfig::GetSHMSPServiceUID(admin, mdcPath, &uid)) {
        _com_issue_error(MAPI_E_NOT_FOUND);
    }
    return uid;
}

} // namespace
} // namespace provider
} // namespace hk

using namespace hk::provider;

void SHMSPConfig::GetSHMSPServices(IMsgServiceAdmin* admin, SRowSet** rows) {
    CDesktopLog log("SHMSPConfig::GetSHMSPServices");
    RequireNonNull(log, admin, "admin object");
    RequireNonNull(log, rows, "row set pointer");
    CheckedHr check;
    CComPtr<IMAPITable> table;
    check = admin->GetMsgServiceTable(0, &table);
    SPropValue name = ShmspServiceName();
    SRestriction shmsp = hk::mapi::PropertyRestriction(RELOP_EQ, name);
    check = HrQueryAllRows(table, hk::mapi::TagArray(kServiceUidColumns), &shmsp, nullptr, 0, rows);
}

bool SHMSPConfig::GetSHMSPServiceUID(IMsgServiceAdmin* admin, const std::wstring& mdcPath, MAPIUID* uid) {
    CDesktopLog log("SHMSPConfig::GetSHMSPServiceUID");
    RequireNonNull(log, admin, "admin object");
    RequireNonNull(log, uid, "UID pointer");
    TidyRowSet rows;
    GetSHMSPServices(admin, rows.put());
    for (const MAPIUID& service : ServiceUids(*rows.get())) {
        std::wstring served;
        if (ServiceMdcPath(admin, service, served) && _wcsicmp(served.c_str(), mdcPath.c_str()) == 0) {
            *uid = service;
            return true;
        }
    }
    return false;
}

unsigned long SHMSPConfig::NumSHMSPServicesInProfile(IMAPISession* session) {
    CDesktopLog log("SHMSPConfig::NumSHMSPServicesInProfile");
    RequireNonNull(log, session, "session");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    TidyRowSet rows;
    GetSHMSPServices(admin, rows.put());
    log.LogInt(LOG_DETAIL, "%d SHMSP services\n", static_cast<int>(rows->cRows));
    return rows->cRows;
}

bool SHMSPConfig::SHMSPServiceExists(IMAPISession* session, const std::wstring& mdcPath) {
    CDesktopLog log("SHMSPConfig::SHMSPServiceExists");
    RequireNonNull(log, session, "session");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    MAPIUID uid{};
    return GetSHMSPServiceUID(admin, mdcPath, &uid);
}

void SHMSPConfig::AddSHMSPService(IMAPISession* session, const std::wstring& mdcKey,
                                  const std::wstring& mdcPath, const std::wstring& displayName) {
    CDesktopLog log("SHMSPConfig::AddSHMSPService");
    RequireNonNull(log, session, "session");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    MAPIUID existing{};
    if (GetSHMSPServiceUID(admin, mdcPath, &existing)) {
        log.LogText(LOG_DETAIL, "An instance serves %s already\n", mdcPath.c_str());
        return;
    }
    TidyRowSet before;
    GetSHMSPServices(admin, before.put());
    HRESULT hr = admin->CreateMsgService(const_cast<char*>(kServiceName), const_cast<char*>("Ignored"), 0, 0);
    if (FAILED(hr)) {
        log.LogHR(LOG_ERROR,
                  "Could not create an instance of Hoardview. Verify that SHMSP is correctly configured in "
                  "MAPISVC.INF",
                  hr);
        _com_issue_error(hr);
    }
    TidyRowSet after;
    GetSHMSPServices(admin, after.put());
    // The new instance is the first UID of "after" that "before" lacks.
    const std::vector<MAPIUID> old = ServiceUids(*before.get());
    const MAPIUID* created = nullptr;
    for (ULONG i = 0; i < after->cRows && created == nullptr; ++i) {
        const MAPIUID* uid = ServiceUid(after->aRow[i]);
        bool known = false;
        for (const MAPIUID& o : old) {
            known = known || (uid != nullptr && SameUid(o, *uid));
        }
        if (uid != nullptr && !known) {
            created = uid;
        }
    }
    if (created == nullptr) {
        log.LogText(LOG_ERROR, "The new instance is not in the service table\n");
        _com_issue_error(MAPI_E_NOT_FOUND);
    }
    SPropValue values[2] = {};
    values[0].ulPropTag = kTagMdcPath;
    values[0].Value.lpszW = const_cast<wchar_t*>(mdcPath.c_str());
    values[1].ulPropTag = PR_DISPLAY_NAME_W;
    values[1].Value.lpszW = const_cast<wchar_t*>(displayName.c_str());
    CheckedHr check;
    check = admin->ConfigureMsgService(const_cast<MAPIUID*>(created), 0, 0, 2, values);
    log.LogText(LOG_INFO, "Added an instance for %s\n", mdcPath.c_str());
    SetSHMSPProfileConfiguration(session, mdcKey, SHMSPProfileConfigOn);
}

void SHMSPConfig::RemoveSHMSPService(IMAPISession* session, const std::wstring& mdcKey,
                                     const std::wstring& mdcPath, bool keepConfig) {
    CDesktopLog log("SHMSPConfig::RemoveSHMSPService");
    RequireNonNull(log, session, "session");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    const SHMSPProfileConfig config = GetSHMSPProfileConfiguration(session, mdcKey);
    MAPIUID uid{};
    if (GetSHMSPServiceUID(admin, mdcPath, &uid)) {
        CheckedHr check;
        check = admin->DeleteMsgService(&uid);
        log.LogText(LOG_INFO, "Removed the instance for %s\n", mdcPath.c_str());
    }
    // The record goes even when there was no instance, so a later add starts
    // afresh; an Off record is the user's choice and stays.
    if (!keepConfig && config != SHMSPProfileConfigOff) {
        SetSHMSPProfileConfiguration(session, mdcKey, SHMSPProfileConfigNone);
    }
}

void SHMSPConfig::RemoveAllSHMSPServices(IMAPISession* session, bool forgetProfile) {
    CDesktopLog log("SHMSPConfig::RemoveAllSHMSPServices");
    RequireNonNull(log, session, "session");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    TidyRowSet rows;
    GetSHMSPServices(admin, rows.put());
    CheckedHr check;
    for (MAPIUID uid : ServiceUids(*rows.get())) {
        check = admin->DeleteMsgService(&uid);
    }
    if (!forgetProfile) {
        return;
    }
    std::wstring profileUid;
    std::wstring storeKey;
    if (!ProfileUidAndStoreKey(session, profileUid, storeKey)) {
        return;
    }
    VisitProfilesKeys(storeKey.c_str(), [&](const wchar_t*, CRegKey& profiles) {
        profiles.DeleteValue(profileUid.c_str());
        return false;
    });
}

void SHMSPConfig::SetSHMSPServiceDisplayName(IMAPISession* session, const std::wstring& mdcPath,
                                             const std::wstring& displayName) {
    CDesktopLog log("SHMSPConfig::SetSHMSPServiceDisplayName");
    RequireNonNull(log, session, "session");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    MAPIUID uid{};
    if (!GetSHMSPServiceUID(admin, mdcPath, &uid)) {
        return;
    }
    SPropValue value{};
    value.ulPropTag = PR_DISPLAY_NAME_W;
    value.Value.lpszW = const_cast<wchar_t*>(displayName.c_str());
    CheckedHr check;
    check = admin->ConfigureMsgService(&uid, 0, 0, 1, &value);
}

void SHMSPConfig::OpenSHMSPMsgStore(IMAPISession* session, const std::wstring& mdcPath, IMsgStore** store) {
    CDesktopLog log("SHMSPConfig::OpenSHMSPMsgStore");
    RequireNonNull(log, session, "session");
    RequireNonNull(log, store, "store pointer");
    CComPtr<IMsgServiceAdmin> admin = AdminServices(session);
    MAPIUID uid = RequireInstance(admin, mdcPath);
    CheckedHr check;
    CComPtr<IMAPITable> table;
    check = session->GetMsgStoresTable(0, &table);
    SPropValue service{};
    service.ulPropTag = PR_SERVICE_UID;
    service.Value.bin.cb = sizeof(uid);
    service.Value.bin.lpb = uid.ab;
    SRestriction ofService = hk::mapi::PropertyRestriction(RELOP_EQ, service);
    TidyRowSet rows;
    check = HrQueryAllRows(table, hk::mapi::TagArray(kEntryIdColumns), &ofService, nullptr, 0, rows.put());
    const SBinary* entryId = rows->cRows == 1 ? BinaryColumn(rows->aRow[0], PR_ENTRYID) : nullptr;
    if (entryId == nullptr) {
        log.LogInt(LOG_ERROR, "%d store rows for the instance\n", static_cast<int>(rows->cRows));
        _com_issue_error(MAPI_E_NOT_FOUND);
    }
    check = session->OpenMsgStore(0, entryId->cb, reinterpret_cast<LPENTRYID>(entryId->lpb), nullptr,
                                  MAPI_BEST_ACCESS | MDB_NO_MAIL, store);
}
