// The one conversion of a Win32 error code to an HRESULT.
#pragma once

#include "HearthkitExport.h"

#include <windows.h>

// HRESULT_FROM_WIN32's meaning: a code that is 0, or negative as a 32-bit
// value (an HRESULT already), is answered as it is; any other becomes
// 0x80070000 | its low 16 bits (a failure of FACILITY_WIN32).
HEARTHKIT_API HRESULT HkHResultFromWin32(DWORD code) noexcept;
