// hkdiag demo: an embedded environment of stand-ins and a tour of the
// library through it.
//
// "hkdiag demo" prepares the environment (DemoEnvironment.cpp) and then runs
// "hkdiag demo --tour ..." as a child process: Hearthkit.dll looks for MAPI
// once, when it is loaded, so only a process started after the stand-in was
// registered sees it. The tour (DemoTour.cpp) is a list of steps.
#pragma once

#include "Tool.h"

#include <windows.h>
#include <string>

namespace hkdiag {

// What the preparation hands to the tour on its command line.
struct DemoSetup {
    std::wstring serverUrl;      // "http://127.0.0.1:<port>/archive/"
    std::wstring profile;        // the MAPI profile with the mailbox
    std::wstring resourceModule; // the resource module's file
    std::wstring handlerCalls;   // the protocol handler's call log, or empty
};

// The archive web server stand-in (webserver.py beside the tool), answering
// the paths the tour uses. It ends when this process ends, after two
// minutes without a connection, or when Stop is called.
class DemoWebServer {
public:
    DemoWebServer() = default;
    ~DemoWebServer() { Stop(); }
    DemoWebServer(const DemoWebServer&) = delete;
    DemoWebServer& operator=(const DemoWebServer&) = delete;

    HRESULT Start(const std::wstring& script);
    void Stop();
    int Port() const { return m_port; }

private:
    int Control(const std::string& method, const std::string& path, const std::string& body);
    int m_port = 0;
};

// The demo takes the machine's MAPI registration: where another MAPI
// (Outlook's own) is registered it refuses, with *what saying so, rather
// than overwrite it.
HRESULT CheckDemoMapiRegistration(std::string* what);

// Registers the MAPI stand-in beside the tool as the machine's MAPI and
// (re)creates `profile` as the default profile, with a primary mailbox whose
// Inbox holds the desktop settings message (its text naming serverUrl) and
// the Hoardlocal marker. *what names the step that failed.
HRESULT PrepareDemoMailbox(const std::wstring& profile, const std::wstring& serverUrl, std::string* what);

// Registers the desktop-search protocol handler stand-in beside the tool (its
// own DllRegisterServer), recording its calls in callLog. S_FALSE when this
// build has none.
HRESULT RegisterDemoProtocolHandler(const std::wstring& callLog);

// The Hoardlocal cache of the demo's store: "HLRootDirectory" under its
// store key names DemoCacheRoot(), whose folder of the store holds one
// database file, "Inbox.db"; Windows Desktop Search is reported installed
// (version 4.0) unless the machine reports its own.
HRESULT PrepareDemoCache();
std::wstring DemoCacheRoot();

// The store key name the marker carries.
extern const wchar_t kDemoStoreKey[];

// Runs the tour's steps and prints the report; kExitFailed when a step failed.
int RunTour(const Invocation& invocation, const DemoSetup& setup);

} // namespace hkdiag
