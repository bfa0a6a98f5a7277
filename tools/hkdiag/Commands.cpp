// The command table. A new command is a file of its own (Command<Name>.cpp
// with its Run function) and one row here.
#include "Tool.h"

#include <cwchar>
#include <stdexcept>

namespace hkdiag {

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        {L"demo", "the tour: library version, log level and file; --trace adds traced operations",
         "Usage: hkdiag demo [--trace] [--json]\n"
         "  Shows Hearthkit.dll's version, the log level and the log file, and writes a line to the log.\n"
         "  --trace  first sets HKCU \"SOFTWARE\\Talvo\\Stowhaven\\Client\" \"LoggingLevel\" to LOG_TRACE\n"
         "           with provider tracing (0x80000003), runs a few traced operations of the library and\n"
         "           writes the log's timeline next to the log file. It changes the user's settings:\n"
         "           meant for a prefix or machine of its own (scripts/demo.sh).\n",
         RunDemo},
        {L"log", "the log's level, tracing flag and file; \"log timeline\" turns a log into a trace",
         "Usage: hkdiag log [--json]\n"
         "  Shows the log level, the provider tracing flag and the current log file.\n"
         "Usage: hkdiag log timeline FILE [-o OUT.json] [--json]\n"
         "  Turns a log file written at LOG_TRACE into a Chrome trace-event file (chrome://tracing,\n"
         "  https://ui.perfetto.dev): a track per thread, a slice per operation, the result in args.\n"
         "  OUT.json defaults to FILE with \".json\" appended.\n",
         RunLog},
        {L"config", "each setting with the layer it came from, the store key and the desktop settings",
         "Usage: hkdiag config [NAME ...] [--json]\n"
         "  Logs on to MAPI sharing the mail client's session, then shows the store key, whether the\n"
         "  desktop settings could be loaded from the mailbox, each NAME's value and the layer it came\n"
         "  from (HKLM Client Root, HKCU Store Key, HKCU Client Root, Desktop Setting, default), and\n"
         "  both desktop settings caches with their modification times (UTC). Without NAME, every\n"
         "  value of the three registry keys and every desktop setting is shown.\n",
         RunConfig},
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
