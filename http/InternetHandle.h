// Owning holder of a WinINet handle (session, connection, request or URL).
#pragma once

#include "HkHandle.h"

#include <windows.h>
#include <wininet.h>

namespace hk {
namespace traits {
struct hinternet {
    using type = HINTERNET;
    static type invalid() { return nullptr; }
    static void close(type h) { ::InternetCloseHandle(h); }
};
} // namespace traits
using unique_hinternet = unique_any<traits::hinternet>;
} // namespace hk
