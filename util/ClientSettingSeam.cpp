#include "config/ClientSettingSeam.h"

#include "HkRegKey.h"

DWORD HkLookupClientDword(const wchar_t* name, DWORD defaultValue) {
    static const wchar_t kClientKey[] = L"SOFTWARE\\Talvo\\Stowhaven\\Client";
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        CRegKey key;
        DWORD value = 0;
        if (key.Open(root, kClientKey, KEY_READ) == ERROR_SUCCESS &&
            key.QueryDWORDValue(name, value) == ERROR_SUCCESS) {
            return value;
        }
    }
    return defaultValue;
}
