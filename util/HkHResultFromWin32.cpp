#include "HkHResultFromWin32.h"

HRESULT HkHResultFromWin32(DWORD code) noexcept {
    const HRESULT asIs = static_cast<HRESULT>(code);
    return asIs <= 0 ? asIs : static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}
