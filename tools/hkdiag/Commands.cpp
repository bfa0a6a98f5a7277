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
