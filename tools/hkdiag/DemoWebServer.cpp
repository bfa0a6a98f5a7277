// The demo's archive web server: the stand-in script, started as a Unix
// program through Wine, told what to answer over its control paths.
// winsock2.h must come before windows.h.
#include <winsock2.h>

#include "Demo.h"

#include "Hearthkit.h"
#include "ControlClient.h"
#include "WineLaunch.h"

#include <cstdio>
#include <cstdlib>

namespace hkdiag {
namespace {

// The client test image: a 1x1 GIF of exactly 43 bytes.
const char kTestImage[] =
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00"
    "\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
    "D\x01\x00;";

struct Route {
    const char* path;
    const char* contentType;
    std::string body;
    const char* extra; // further JSON members of the reply
};

} // namespace

HRESULT DemoWebServer::Start(const std::wstring& script) {
    WSADATA data;
    if (int error = ::WSAStartup(MAKEWORD(2, 2), &data)) {
        return HkHResultFromWin32(error);
    }
    wchar_t temp[MAX_PATH];
    DWORD chars = ::GetTempPathW(MAX_PATH, temp);
    if (chars == 0 || chars >= MAX_PATH) {
        return HkHResultFromWin32(::GetLastError());
    }
    std::wstring portFile =
        temp + std::wstring(L"hkdiag-demo-") + std::to_wstring(::GetCurrentProcessId()) + L".port";
    ::DeleteFileW(portFile.c_str());
    std::string scriptUnix = webserver::UnixPath(script), portUnix = webserver::UnixPath(portFile);
    if (scriptUnix.empty() || portUnix.empty()) {
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED); // not under Wine
    }
    std::string command = "/usr/bin/python3 \"" + scriptUnix + "\" --port-file \"" + portUnix +
                          "\" --watch-pid " + webserver::UnixPid() + " --idle 120";
    std::wstring line(command.begin(), command.end());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return HkHResultFromWin32(::GetLastError());
    }
    // Wine's handles of a Unix process cannot be waited on: the port file,
    // written once the server listens, tells that it is up.
    hk::unique_handle process(pi.hProcess), thread(pi.hThread);
    for (int i = 0; i < 200 && m_port == 0; ++i) {
        ::Sleep(50);
        hk::unique_file file(::CreateFileW(portFile.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
        char text[16] = {};
        DWORD read = 0;
        if (file && ::ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr)) {
            m_port = std::atoi(text);
        }
    }
    ::DeleteFileW(portFile.c_str());
    if (m_port == 0) {
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    const std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                            "<SearchResults count=\"2\"><Item id=\"1\" subject=\"Q3 report\"/>"
                            "<Item id=\"2\" subject=\"Budget 2027\"/></SearchResults>";
    const Route routes[] = {
        {"/archive/clienttest.gif", "image/gif", std::string(kTestImage, sizeof(kTestImage) - 1), ""},
        // Anything but the test image asks for Basic credentials first.
        {"/archive/", "text/plain", "Stowhaven archive",
         ",\"require_auth\":\"Basic ZGVtbzpkZW1v\",\"challenge\":{\"status\":401,\"reason\":\"Unauthorized\","
         "\"headers\":[[\"WWW-Authenticate\",\"Basic realm=\\\"Stowhaven\\\"\"]]}"},
        {"/archive/search", "text/xml; charset=utf-8", xml, ""},
        {"/archive/upload", "text/xml; charset=utf-8", "<UploadResult stored=\"1\"/>",
         ",\"discard_body\":true"},
    };
    for (const Route& route : routes) {
        std::string reply = "{\"status\":200,\"reason\":\"OK\",\"headers\":[[\"Content-Type\",\"" +
                            std::string(route.contentType) +
                            "\"]],\"body\":" + webserver::ByteJson(route.body) + route.extra + "}";
        if (Control("POST", "/__control/route",
                    "{\"path\":\"" + std::string(route.path) + "\",\"replies\":[" + reply + "]}") != 200) {
            Stop();
            return E_FAIL;
        }
    }
    return S_OK;
}

void DemoWebServer::Stop() {
    if (m_port != 0) {
        Control("POST", "/__control/quit", "");
        m_port = 0;
        ::WSACleanup();
    }
}

// One request on a connection of its own; answers the reply's status, or 0.
int DemoWebServer::Control(const std::string& method, const std::string& path, const std::string& body) {
    int status = 0;
    webserver::ControlExchange(m_port, method, path, body, &status);
    return status;
}

} // namespace hkdiag
