// The PST growth-policy exemption: when Outlook's policy forbids PST files to
// grow but lets signed handlers exempt stores, a store the helper opens is
// registered with the PST provider, which later calls this library back by
// its exported name to ask for the exemption.
#include "include/hearthkit/CDesktopPSTHelperBase.h"

#include "include/hearthkit/CDesktopLog.h"
#include "include/hearthkit/HearthkitUtil.h"
#include "include/hearthkit/HkRegKey.h"
#include "include/hearthkit/HkResult.h"
#include "mapi/PSTHelperShared.h"
#include "mapi/PSTOverride.h"

#include <mapitags.h>
#include <cstring>
#include <set>

namespace hk {
namespace pst {
namespace {

// Every helper that exists: the callback's client data is only followed to
// a helper listed here.
std::set<const CDesktopPSTHelperBase*>& LiveHelpers() {
    static std::set<const CDesktopPSTHelperBase*> helpers;
    return helpers;
}

bool IsBinary(const PropBuffer& value) {
    return value && PROP_TYPE(value->ulPropTag) == PT_BINARY;
}

} // namespace

CHkCriticalSection& HelperLock() {
    static CHkCriticalSection lock;
    return lock;
}

void AddLiveHelper(const CDesktopPSTHelperBase* helper) {
    CHkCritSecLock lock(HelperLock());
    LiveHelpers().insert(helper);
}

void RemoveLiveHelper(const CDesktopPSTHelperBase* helper) {
    CHkCritSecLock lock(HelperLock());
    LiveHelpers().erase(helper);
}

} // namespace pst
} // namespace hk

HRESULT CDesktopPSTHelperBase::HandlePSTDisableGrow() {
    HRESULT hr = S_OK; // the last step's result, for the log; the open never fails here
    CDesktopLog log("CDesktopPSTHelperBase::HandlePSTDisableGrow", &hr);
    const char kNoExemption[] = "** Make sure you have a version of MSPST32.DLL that supports exemption of "
                                "PSTDisableGrow and the Digital Certificate is in the Trust List **";
    try {
        wchar_t keyPath[96];
        _snwprintf(keyPath, 96, L"Software\\Policies\\Microsoft\\Office\\%d.0\\Outlook\\PST",
                   HearthkitUtil::GetOutlookMajorVersion());
        keyPath[95] = L'\0';
        CRegKey policy;
        LONG rc = policy.Open(HKEY_CURRENT_USER, keyPath, KEY_QUERY_VALUE);
        if (rc != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(rc);
            return S_OK;
        }
        // Missing, or of another type than REG_DWORD: 0.
        DWORD disableGrow = 0, allowOverrides = 0;
        policy.QueryDWORDValue(L"PstDisableGrow", disableGrow);
        policy.QueryDWORDValue(L"PSTDisableGrowAllowAuthenticodeOverrides", allowOverrides);
        if (disableGrow != 1) {
            return S_OK;
        }
        if (allowOverrides != 1) {
            log.LogText(LOG_ERROR,
                        "Unable to exempt PST's from PSTDisableGrow, make sure that "
                        "'PSTDisableGrowAllowAuthenticodeOverrides' registry key has been set...\n");
            return S_OK;
        }
        log.LogText(LOG_INFO,
                    "PstDisableGrow and PSTDisableGrowAllowAuthenticodeOverrides keys are set...\n");
        log.LogText(LOG_INFO, "attempting to obtain Override interface...\n");
        CComPtr<IPSTOverrideRequest> request;
        hr = m_pStore->QueryInterface(IID_IPSTOverrideRequest, reinterpret_cast<void**>(&request));
        if (FAILED(hr)) {
            log.LogHR(LOG_ERROR, kNoExemption, hr);
            return S_OK;
        }
        log.LogText(LOG_INFO, "Override interface obtained successfully..\n");

        // The handler is this library: the provider loads it by this path.
        HMODULE self = nullptr;
        wchar_t modulePath[520] = {};
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  reinterpret_cast<LPCWSTR>(&::HrTrustedPSTOverrideHandlerCallback), &self) ||
            ::GetModuleFileNameW(self, modulePath, 520) == 0) {
            hr = HRESULT_FROM_WIN32(::GetLastError());
            return S_OK;
        }
        modulePath[519] = L'\0';
        log.LogText(LOG_INFO, "calling Registration Handler with %s ...\n", modulePath);
        CComBSTR handlerPath(modulePath);
        hr = request->RegisterTrustedPSTOverrideHandler(handlerPath, this);
        if (FAILED(hr)) {
            log.LogHR(LOG_ERROR, kNoExemption, hr);
            return S_OK;
        }
        log.LogText(LOG_INFO, "Registration call was successful.\n");
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT CDesktopPSTHelperBase::HrTrustedPSTOverrideHandlerCallback(IMsgStore* store,
                                                                   IUnknown* overrideSource) {
    HRESULT hr = S_OK;
    CDesktopLog log("CDesktopPSTHelperBase::HrTrustedPSTOverrideHandlerCallback", &hr);
    if (store == nullptr || overrideSource == nullptr) {
        HkNullArgument(log, "store or overrideSource");
        return hr;
    }
    // The store stays this helper's until the callback is done with it.
    CHkCritSecLock lock(hk::pst::HelperLock());
    if (!m_pStore) {
        log.LogText(LOG_ERROR, "The PST store is closed, PST will NOT be exempted from PSTDisableGrow..\n");
        return hr;
    }
    try {
        CheckedHr check;
        hk::pst::PropBuffer own, offered;
        check = hk::pst::GetOneProp(m_pStore, PR_ENTRYID, own);
        check = hk::pst::GetOneProp(store, PR_ENTRYID, offered);
        if (!hk::pst::IsBinary(own) || !hk::pst::IsBinary(offered) ||
            own->Value.bin.cb != offered->Value.bin.cb) {
            return hr;
        }
        if (std::memcmp(own->Value.bin.lpb, offered->Value.bin.lpb, own->Value.bin.cb) != 0) {
            log.LogText(LOG_ERROR, "There is a mismatch between the entry ids, PST will NOT be exempted from "
                                   "PSTDisableGrow..\n");
            return hr;
        }
        log.LogText(LOG_INFO, "entry ids match.attempting to obtain OVERRIDE interface\n");
        CComPtr<IPSTOverride> exemption;
        check = overrideSource->QueryInterface(IID_IPSTOverride, reinterpret_cast<void**>(&exemption));
        log.LogText(LOG_INFO, "OVERRIDE interface obtained successfully.calling exemption method..\n");
        check = exemption->ExemptFromDisableGrow();
        log.LogText(LOG_INFO, "exemption call successful.\n");
    } catch (...) {
        hr = HkCaughtToHr(log, "An error has occurred while exempting PST from PSTDisableGrow...");
    }
    return hr;
}

HRESULT HrTrustedPSTOverrideHandlerCallback(IMsgStore* store, IUnknown* overrideSource, void* clientData) {
    HRESULT hr = S_OK;
    CDesktopLog log("HrTrustedPSTOverrideHandlerCallback", &hr);
    if (store == nullptr || overrideSource == nullptr || clientData == nullptr) {
        HkNullArgument(log, "store, overrideSource or clientData");
        return hr;
    }
    // Held for the call, so that the helper cannot go while it answers.
    CHkCritSecLock lock(hk::pst::HelperLock());
    auto* helper = static_cast<CDesktopPSTHelperBase*>(clientData);
    if (hk::pst::LiveHelpers().count(helper) == 0) {
        log.LogText(LOG_ERROR, "The helper that registered the PST is gone, PST will NOT be exempted from "
                               "PSTDisableGrow..\n");
        return hr;
    }
    return hr = helper->HrTrustedPSTOverrideHandlerCallback(store, overrideSource);
}

const IID IID_IPSTOverrideRequest = {
    0x892EBC6D, 0x24DC, 0x4D90, {0xBA, 0x48, 0xC6, 0xCB, 0xEC, 0x14, 0xA8, 0x6A}};
const IID IID_IPSTOverride = {0xFBB68D34, 0xF561, 0x44FB, {0xA8, 0xCA, 0xAE, 0x36, 0x69, 0x63, 0x42, 0xCA}};
