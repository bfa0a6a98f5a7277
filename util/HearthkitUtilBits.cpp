// Background Intelligent Transfer Service: the version 2.0 copy manager and
// the file names of a one-file job.
#include "HearthkitUtil.h"

#include "CDesktopLog.h"
#include "HkResult.h"

#include <initguid.h>
#include <bits.h>
#include <cstdio>

namespace {

// The BITS 2.0 manager; the service behind it is the one of the first class.
const CLSID kClsidBackgroundCopyManager20 = {
    0x6D18AD12, 0xBDE3, 0x4393, {0xB3, 0x11, 0x09, 0x9C, 0x34, 0x6E, 0x6D, 0xF9}};
const double kBitsVersion = 2.0;

} // namespace

HRESULT HearthkitUtil::GetBITSManager(CComPtr<IBackgroundCopyManager>& manager, double& version) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::GetBITSManager - Creating a Copy Manager job", &hr);
    hr = ::CoCreateInstance(kClsidBackgroundCopyManager20, nullptr, CLSCTX_LOCAL_SERVER,
                            IID_IBackgroundCopyManager, reinterpret_cast<void**>(&manager));
    if (FAILED(hr)) {
        log.LogHR(LOG_DETAIL, "Unable to create BITS MANAGER object\n", hr);
        return hr;
    }
    version = kBitsVersion;
    char text[32] = {};
    std::snprintf(text, sizeof text, "%-2.1lf", version);
    log.LogText(LOG_DETAIL, "BITS version is, '%s'\n", text);
    return hr = S_OK;
}

HRESULT HearthkitUtil::GetBITSJobFileDetails(IBackgroundCopyJob* job, CoTaskMemString& localName,
                                             CoTaskMemString& remoteName) {
    HRESULT hr = S_OK;
    CDesktopLog log("HearthkitUtil::GetBITSJobFileDetails", &hr);
    if (job == nullptr) {
        return hr = HkNullArgument(log, "job");
    }
    try {
        CheckedHr check;
        CComPtr<IEnumBackgroundCopyFiles> files;
        check = job->EnumFiles(&files);
        ULONG count = 0;
        check = files->GetCount(&count);
        if (count != 1) {
            return hr = S_OK;
        }
        CComPtr<IBackgroundCopyFile> file;
        ULONG fetched = 0;
        hr = files->Next(1, &file, &fetched);
        if (hr != S_OK) {
            return hr;
        }
        wchar_t* name = nullptr;
        check = file->GetLocalName(&name);
        localName.reset(name);
        name = nullptr;
        check = file->GetRemoteName(&name);
        remoteName.reset(name);
        hr = S_OK;
    } catch (...) {
        hr = HkCaughtToHr(log, "HearthkitUtil::GetBITSJobFileDetails");
    }
    return hr;
}
