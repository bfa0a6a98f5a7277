// The command table. A new command is a file of its own (Command<Name>.cpp
// with its Run function) and one row here.
#include "Tool.h"

#include <cwchar>
#include <stdexcept>

namespace hkdiag {

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        {L"demo", "the tour: every subsystem through stand-ins of MAPI, the web server and the resources",
         "Usage: hkdiag demo [--json]\n"
         "  Prepares an embedded environment and tours the library through it: the MAPI stand-in\n"
         "  (MapiStandin.dll beside the tool) registered as the machine's MAPI, the default profile\n"
         "  \"Stowhaven Demo\" with a primary mailbox holding a desktop settings message and a\n"
         "  Hoardlocal marker, the archive web server stand-in (webserver.py, python3) on loopback, the\n"
         "  resource module skyrend\\skyrend.dll, the protocol handler stand-in (WdsHandlerStandin.dll)\n"
         "  registered and the store's cache folder with Windows Desktop Search reported as 4.0 unless\n"
         "  the machine reports its own. It sets HKCU \"SOFTWARE\\Talvo\\Stowhaven\\Client\"\n"
         "  \"LoggingLevel\" to LOG_TRACE, so the log shows every operation, and ends with the log's\n"
         "  timeline. The tour runs in a child process, which finds the stand-in when it loads the\n"
         "  library; each step that is another command runs that command and shows its first lines.\n"
         "  It changes the machine's MAPI registration and the user's settings: it is meant for a Wine\n"
         "  prefix of its own (scripts/demo.sh), and refuses where another MAPI is registered.\n"
         "  --json  one object: the steps with their state and summary, and each command's own object\n",
         RunDemo},
        {L"log", "the log's level, tracing flag and file; \"log timeline\" turns a log into a trace",
         "Usage: hkdiag log [--json]\n"
         "  Shows the log level, the provider tracing flag and the current log file.\n"
         "Usage: hkdiag log timeline FILE [-o OUT.json] [--json]\n"
         "  Turns a log file written at LOG_TRACE into a Chrome trace-event file (chrome://tracing,\n"
         "  https://ui.perfetto.dev): a track per thread, a slice per operation, the result in args.\n"
         "  OUT.json defaults to FILE with \".json\" appended.\n",
         RunLog},
        {L"wds", "the queued desktop-search indexing requests; \"wds replay\" replays them",
         "Usage: hkdiag wds queue [--store NAME] [--json]\n"
         "  Shows the installed Windows Desktop Search version and the indexing requests queued under\n"
         "  HKCU <store key>\\\"WDS Index Data\", in the order a replay takes them (Delete, Add, ReIndex).\n"
         "Usage: hkdiag wds replay [--store NAME] [--json]\n"
         "  Replays the queue against the Hoardlocal protocol handler and shows what is left. Every\n"
         "  request it reaches is removed, whether the handler succeeded or WDS is missing.\n"
         "  --store NAME  the store key name under \"SOFTWARE\\Talvo\\Stowhaven\\Client\" to use, instead\n"
         "                of the one derived from the default MAPI profile\n",
         RunWds},
        {L"probe", "can the archive web server be reached: connectivity, authentication, user agent",
         "Usage: hkdiag probe URL [--header LINE]... [--login] [--json]\n"
         "  Asks the library whether URL can be reached (for a URL naming \"/clienttest.gif\", the server\n"
         "  must answer with the 43-byte test image) and, when it can, whether the server asks for Basic\n"
         "  or integrated authentication. Shows the user agent and the open type "
         "(\"INTERNETOPENTYPEDIRECT\")\n"
         "  that the library's sessions use. --header adds a request header; --login shows WinINet's\n"
         "  credentials dialog on a 401. Exits with 1 when the server cannot be reached.\n",
         RunProbe},
        {L"send", "one exchange with the server: a form, an XML document or an upload of files",
         "Usage: hkdiag send form URL [NAME=VALUE]... [--timeout MS] [--json]\n"
         "       hkdiag send xml URL FILE [--timeout MS] [--json]\n"
         "       hkdiag send upload URL FILE... [--field NAME=VALUE]... [--timeout MS] [--json]\n"
         "  Sends one request through the library's server client and shows the reply's status, headers\n"
         "  and body. form posts the fields URL-encoded (give them already encoded); xml posts the UTF-8\n"
         "  document FILE (sent as UTF-16); upload streams the files as a multipart form (field \"file\")\n"
         "  with an exact length and shows the bytes sent and the throughput. --timeout: milliseconds for\n"
         "  each send and receive (30000).\n",
         RunSend},
        {L"hoardview",
         "the SHMSP services of a MAPI profile; add, remove, registry clean-up of every profile",
         "Usage: hkdiag hoardview [list] [--profile NAME] [--json]\n"
         "  The SHMSP services (the Hoardview) of the profile (the default profile without --profile):\n"
         "  each service's UID, display name and MDC path, and the profile's configuration record of the\n"
         "  MDC file (its MDC key is the file's base name), when the client store key is known.\n"
         "Usage: hkdiag hoardview add MDC_PATH [--name DISPLAY] [--key MDC_KEY] [--profile NAME]\n"
         "  Adds a service for the MDC file unless one serves it already (the name defaults to Hoardview).\n"
         "Usage: hkdiag hoardview remove MDC_PATH [--key MDC_KEY] [--keep-config] [--profile NAME]\n"
         "  Removes the first service of the MDC file and, unless --keep-config, its record.\n"
         "Usage: hkdiag hoardview cleanup [--json]\n"
         "  Strips the SHMSP services and store providers out of every MAPI profile directly in the\n"
         "  registry (no MAPI session) and removes the client \"Profiles\" keys of their MDC files.\n"
         "  Prints each profile's numbers of services and store providers before and after.\n",
         RunHoardview},
        {L"l10n", "a localised message from the resource module",
         "Usage: hkdiag l10n ID [INSERT] [--module PATH] [--json]\n"
         "  Shows string ID of the resource module as the product's components receive it, with INSERT\n"
         "  in place of its \"%s\". A missing string gives the module's generic text (376), a missing\n"
         "  module the built-in English text. PATH defaults to skyrend.dll beside the tool; when it does\n"
         "  not load, skyrend.dll in its folder and then the system's search are tried.\n",
         RunL10n},
        {L"config", "each setting with the layer it came from, the store key and the desktop settings",
         "Usage: hkdiag config [NAME ...] [--json]\n"
         "  Logs on to MAPI sharing the mail client's session, then shows the store key, whether the\n"
         "  desktop settings could be loaded from the mailbox, each NAME's value and the layer it came\n"
         "  from (HKLM Client Root, HKCU Store Key, HKCU Client Root, Desktop Setting, default), and\n"
         "  both desktop settings caches with their modification times (UTC). Without NAME, every\n"
         "  value of the three registry keys and every desktop setting is shown.\n",
         RunConfig},
        {L"pst",
         "creates or opens a PST as the product does: its Unicode flag, root folder and named properties",
         "Usage: hkdiag pst create|open PATH [--json]\n"
         "  Opens the PST at PATH through MAPI on a temporary profile (create: replaces any file there with "
         "a\n"
         "  new store) and shows whether the store is Unicode, its root folder's name and the tags of the\n"
         "  cache store's 95 named properties, resolved on it (by enumerator value). The profile keeps no\n"
         "  PST service afterwards; the file stays.\n",
         RunPst},
    };
    return table;
}

const Command& FindCommand(const wchar_t* name) {
    for (const Command& command : Commands()) {
        if (std::wcscmp(command.name, name) == 0) {
            return command;
        }
    }
    throw std::out_of_range("no such command");
}

} // namespace hkdiag
