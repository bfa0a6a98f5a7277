#include "HkResult.h"

#include <new>
#include <stdexcept>

HRESULT HkHResultFromWin32(long code) noexcept {
    return code <= 0 ? static_cast<HRESULT>(code) : static_cast<HRESULT>(0x80070000u | (code & 0xFFFF));
}
