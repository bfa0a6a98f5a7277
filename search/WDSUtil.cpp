// WDSUtil: the installed WDS version and the cache's database files.
#include "WDSUtil.h"

#include "CDesktopLog.h"
#include "HkHandle.h"
#include "HkRegKey.h"
#include "HkResult.h"
#include "search/WdsPaths.h"
#include "search/WdsStoreKey.h"

#include <cstdlib>
#include <cwchar>

namespace {

const wchar_t kWdsKey[] = L"Software\\Microsoft\\Windows Desktop Search";
const wchar_t kWdsVersionValue[] = L"Version";
const double kWdsSupportedVersion = 3.0;
// Buffer sizes of the two readers of the cache root, in characters.
const ULONG kEnumRootChars = 1024;
const ULONG kPathRootChars = 260;

} // namespace

const wchar_t* const WDSUtil::szWDSOps[3] = {L"Delete", L"Add", L"ReIndex"};
const wchar_t WDSUtil::szWDSIndexData[] = L"WDS Index Data";
const wchar_t WDSUtil::szHoardlocal[] = L"Hoardlocal";
const wchar_t WDSUtil::szHLRootDirectory[] = L"HLRootDirectory";

double WDSUtil::GetWDSSupportedVer() {
    CDesktopLog log("WDSUtil::GetWDSSupportedVer");
    return kWdsSupportedVersion;
}

bool WDSUtil::GetInstalledWDSVersion(double& version) {
    CDesktopLog log("WDSUtil::GetInstalledWDSVersion");
    version = -1.0;
    log.LogText(LOG_DETAIL, "Attempting to read registry key - HKLM\\%s\\ \n", kWdsKey);
    CRegKey key;
    LONG rc = key.Open(HKEY_LOCAL_MACHINE, kWdsKey, KEY_READ);
    if (rc == ERROR_SUCCESS) {
        log.LogText(LOG_DETAIL, "Attempting to read registry value - %s \n", kWdsVersionValue);
        wchar_t text[MAX_PATH] = {};
        ULONG chars = MAX_PATH;
        rc = key.QueryStringValue(kWdsVersionValue, text, &chars);
        if (rc == ERROR_SUCCESS) {
            // The C runtime's reading: white space and a sign may lead,
            // the number ends where the text stops being one ("4.0.6001"
            // is 4.0); a text that is no number reads as 0.0.
            version = std::wcstod(text, nullptr);
            log.LogText(LOG_DETAIL, "WDS version installed is : %s \n", text);
            return true;
        }
    }
    log.LogLong(LOG_DETAIL,
                "Either WDS is not installed or failed to detect installed version, errorCode = %ld \n", rc);
    return false;
}

void WDSUtil::ExtractProfile(const CStringW& path, std::vector<CStringW>& tokens) {
    CDesktopLog log("WDSUtil::ExtractProfile");
    tokens.clear();
    try {
        for (const std::wstring& piece : hk::wds::SplitPath(path.str())) {
            log.LogText(LOG_DETAIL, "Token extracted : \"%s\"\n", piece.c_str());
            tokens.emplace_back(piece);
        }
    } catch (...) {
        HkCaughtToHr(log, "WDSUtil::ExtractProfile");
        tokens.clear();
    }
}

void WDSUtil::EnumDBFilesForCurrentProfile(std::vector<CStringW>& files, bool fullPaths) {
    CDesktopLog log("WDSUtil::EnumDBFilesForCurrentProfile");
    files.clear();
    try {
        std::wstring storeKey;
        if (!hk::wds::StoreKeyOrLog(log, storeKey)) {
            return;
        }
        CRegKey key;
        LONG rc = key.Open(HKEY_CURRENT_USER, storeKey.c_str(), KEY_READ);
        if (rc != ERROR_SUCCESS) {
            log.LogText(LOG_ERROR, "Failed to open [HKCU\\%s] profile key\n", storeKey.c_str());
            log.LogLong(LOG_ERROR, "CRegKey::Open() errorCode = %ld \n", rc);
            return;
        }
        wchar_t root[kEnumRootChars] = {};
        ULONG chars = kEnumRootChars;
        rc = key.QueryStringValue(szHLRootDirectory, root, &chars);
        if (rc != ERROR_SUCCESS) {
            log.LogText(LOG_ERROR, "Failed to QueryStringValue [%s] under [HKCU\\%s] \n", szHLRootDirectory,
                        storeKey.c_str());
            log.LogLong(LOG_ERROR, "CRegKey::QueryStringValue() errorCode = %ld \n", rc);
            return;
        }
        log.LogText(LOG_DETAIL, "HLRootDirectory - [%s] \n", root);
        // Listing takes the store directory from the key's last piece.
        std::vector<std::wstring> pieces = hk::wds::SplitPath(storeKey);
        std::wstring directory =
            hk::wds::StoreDirectory(root, pieces.empty() ? std::wstring() : pieces.back());
        std::wstring pattern = directory + L"*.db";
        log.LogText(LOG_DETAIL, "szFileSpecifier - [%s] \n", pattern.c_str());
        WIN32_FIND_DATAW found;
        hk::unique_find search(::FindFirstFileW(pattern.c_str(), &found));
        if (!search) {
            return;
        }
        do {
            files.emplace_back(fullPaths ? directory + found.cFileName : std::wstring(found.cFileName));
            log.LogText(LOG_DETAIL, "DB file - [%s] \n", found.cFileName);
        } while (::FindNextFileW(search.get(), &found));
    } catch (...) {
        HkCaughtToHr(log, "WDSUtil::EnumDBFilesForCurrentProfile");
        files.clear();
    }
}

bool WDSUtil::GetDBFullPath(CStringW fileName, CStringW& fullPath) {
    CDesktopLog log("WDSUtil::GetDBFullPath");
    fullPath.Empty();
    try {
        HRESULT hr = S_OK;
        std::wstring storeKey;
        if (!hk::wds::StoreKeyOrLog(log, storeKey, &hr)) {
            return false;
        }
        bool formed = hk::wds::DBFullPathUnder(log, storeKey, fileName, fullPath);
        log.LogHR(LOG_DETAIL, "GetClientStoreKey returned ", hr);
        return formed;
    } catch (...) {
        HkCaughtToHr(log, "WDSUtil::GetDBFullPath");
        fullPath.Empty();
        return false;
    }
}

namespace hk {
namespace wds {

bool DBFullPathUnder(CDesktopLog& log, const std::wstring& storeKey, const CStringW& fileName,
                     CStringW& fullPath) {
    fullPath.Empty();
    // The name comes from the queue, which any process of the user can
    // write: only a plain file name is joined into the path.
    if (!IsFileName(fileName.str())) {
        log.LogText(LOG_ERROR, "Invalid hoardlocal DB file specified \n");
        return false;
    }
    CRegKey key;
    LONG rc = key.Open(HKEY_CURRENT_USER, storeKey.c_str(), KEY_READ | KEY_WRITE);
    if (rc != ERROR_SUCCESS) {
        log.LogLong(LOG_ERROR, "CRegKey::Open failed to open client store key, errorCode = %ld \n", rc);
        return false;
    }
    wchar_t root[kPathRootChars] = {};
    ULONG chars = kPathRootChars;
    rc = key.QueryStringValue(WDSUtil::szHLRootDirectory, root, &chars);
    // A root of one character (a bare drive letter or separator) is no
    // directory the cache can live in.
    if (rc != ERROR_SUCCESS || std::wcslen(root) < 2) {
        log.LogLong(LOG_ERROR, "CRegKey::QueryStringValue failed to read HLRootDirectory, errorCode = %ld \n",
                    rc);
        return false;
    }
    log.LogText(LOG_DETAIL, "HLRootDirectory = %s \n", root);
    // The path of one file takes the store directory from the key's fifth
    // piece: "SOFTWARE\Talvo\Stowhaven\Client\<name>".
    std::vector<std::wstring> pieces = SplitPath(storeKey);
    if (pieces.size() < 5) {
        return false;
    }
    fullPath = (StoreDirectory(root, pieces[4]) + fileName.str()).c_str();
    log.LogText(LOG_DETAIL, "DBFilePath = %s \n", fullPath.GetString());
    return true;
}

} // namespace wds
} // namespace hk
