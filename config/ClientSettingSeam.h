// The client settings that the utilities read, until the layered
// configuration lookup takes their place.
#pragma once

#include <windows.h>

// A DWORD client setting: HKLM, then HKCU "SOFTWARE\Talvo\Stowhaven\Client",
// else defaultValue.
DWORD HkLookupClientDword(const wchar_t* name, DWORD defaultValue);
