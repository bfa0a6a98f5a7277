// One exchange with the archive web server stand-in on a loopback connection
// of its own: how tests and the demo tell it what to answer and ask it what it
// received. Programs using it link ws2_32 and have called WSAStartup.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <string>

namespace webserver {

// Sends METHOD PATH with BODY to 127.0.0.1:PORT and answers the reply's body
// (empty when none came); *status gets its status code, or 0. The reply is read
// up to its Content-Length, or until the server closes, at most 10 s per read.
inline std::string ControlExchange(int port, const std::string& method, const std::string& path,
                                   const std::string& body, int* status = nullptr) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    std::string reply;
    if (s != INVALID_SOCKET) {
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        DWORD timeout = 10000;
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
        if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
            std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body;
            ::send(s, request.data(), static_cast<int>(request.size()), 0);
            char buffer[65536];
            size_t expected = std::string::npos;
            for (;;) {
                size_t head = reply.find("\r\n\r\n");
                if (head != std::string::npos && expected == std::string::npos) {
                    size_t at = reply.find("Content-Length: ");
                    if (at != std::string::npos && at < head) {
                        expected = head + 4 + std::strtoul(reply.c_str() + at + 16, nullptr, 10);
                    }
                }
                if (expected != std::string::npos && reply.size() >= expected) {
                    break;
                }
                int n = ::recv(s, buffer, sizeof(buffer), 0);
                if (n <= 0) {
                    break;
                }
                reply.append(buffer, static_cast<size_t>(n));
            }
        }
        ::closesocket(s);
    }
    if (status != nullptr) {
        // "HTTP/1.1 200 OK"
        *status = reply.size() > 12 ? std::atoi(reply.c_str() + 9) : 0;
    }
    size_t head = reply.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : reply.substr(head + 4);
}

} // namespace webserver
