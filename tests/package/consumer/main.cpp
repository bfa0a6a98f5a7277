// Uses the installed Hearthkit.dll the way the product's components do:
// through the umbrella header and the import library, with strings,
// containers, COM holders and exceptions crossing the module boundary.
#include <Hearthkit.h>

#include <cstdio>
#include <stdexcept>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    g_failures += ok ? 0 : 1;
}

} // namespace

bool RetryIntervalThroughPrefixedInclude(); // prefixed.cpp

int main() {
    HRESULT hr = S_OK;
    CDesktopLog log("Consumer::main", &hr);
    log.LogText(LOG_INFO, "consumer started\n");

    BYTE bytes[] = {0x00, 0xAB, 0x7F};
    SBinary eid = {3, bytes};
    CComBSTR text = HearthkitUtil::EidToBstr(eid);
    std::vector<BYTE> back;
    hr = HearthkitUtil::HexStrToBinary(text, back);
    Check(std::wcscmp(text, L"00AB7F") == 0 && hr == S_OK && back.size() == 3 && back[1] == 0xAB,
          "HearthkitUtil hex round trip");

    std::list<std::wstring> pieces = StdWStringUtil::split(L"a,,b,", L',');
    Check(pieces.size() == 3 && pieces.back() == L"b", "StdWStringUtil::split");

    Check(RetryIntervalThroughPrefixedInclude(), "RetryInterval through <hearthkit/Hearthkit.h>");

    bool raised = false;
    try {
        Directory::GetFiles(L"C:\\no such directory\\really not", L"*");
    } catch (const std::runtime_error& e) {
        raised = std::strcmp(e.what(), "FindNextFile()") == 0;
    }
    Check(raised, "Directory::GetFiles raises across the module boundary");

    std::printf(g_failures == 0 ? "consumer ok\n" : "consumer failed\n");
    return g_failures == 0 ? 0 : 1;
}
