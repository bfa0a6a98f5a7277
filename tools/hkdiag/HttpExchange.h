// One exchange with the archive web server through the library's own server
// client (CHttpClientHelper and its engine), as the product's components make
// it, with the tool watching: the headers of every request WinINet sent, the
// bytes going out and coming in, and a login step that asks nobody unless
// --login says so. `send` and `get` share it.
#pragma once

#include "Hearthkit.h"
#include "Tool.h"

#include <memory>
#include <string>
#include <vector>

namespace hkdiag {

struct ExchangeOptions {
    std::wstring url;      // the whole URL of the request
    DWORD timeout = 30000; // each send and receive, in milliseconds
    bool login = false;    // --login: WinINet's credentials dialog on a 401
};

// What the tool saw of one exchange.
struct ExchangeRecord {
    std::vector<std::string> requests; // the header block of each request sent
    long long bytesSent = 0;
    long long bytesReceived = 0;
    bool urlCredentials = false; // the URL named a user and password, given to WinINet
    bool loginRefused = false;   // a 401 reached the login step and nobody was asked
};

class ToolEngine;

// The client of the URL's folder: request suffixes are the URL's last part,
// with its query.
class ToolClient : public CHttpClientHelper {
public:
    ToolClient(CComBSTR& serverUrl, const ExchangeOptions& options);
    ~ToolClient() override;

    // As the library's own Init, with the tool's engine; the URL's user name
    // and password, when it names them, go to the connection, so WinINet
    // answers a challenge with them.
    bool Init() override;
    CInternetSendDataBase& Engine() { return *m_pSendData; }
    const ExchangeRecord& Record() const { return m_record; }

    using CHttpClientHelper::PostFormDataToServer;
    using CHttpClientHelper::PostLargeDataToServer;
    using CHttpClientHelper::PostXMLDataToServer;

private:
    ExchangeOptions m_options;
    ExchangeRecord m_record;
    std::unique_ptr<ToolEngine> m_engine;
};

// Splits the URL of a request into the client's URL (up to the last "/" of
// its path) and the request's suffix (the rest, with any query).
void SplitRequestUrl(const std::wstring& url, std::wstring* server, std::string* suffix);

// The outcome of an exchange as the tool reports it: the reply (status,
// headers, body or its size) in text or JSON, and the exit code: 0 for a 2xx
// reply, 1 for any other reply (shown still) or a failure, whose text names
// a 401's schemes and what to do about them.
struct ExchangeReport {
    std::string what;      // "send form http://..."
    HRESULT hr = S_OK;     // the library's result
    bool showBody = true;  // false: the body's size only (get)
    std::string extraText; // a line after the reply (throughput)
    std::string extraJson; // further members of the JSON object
    double seconds = 0;
};
int ReportExchange(const Invocation& invocation, const ToolClient& client, const ResponseDetails& reply,
                   const ExchangeReport& report);

// Seconds on the high-resolution counter.
double Seconds();

} // namespace hkdiag
