#include <ostream>

#include "check.h"
#include "nubiloTool.h"
#include "simulate.h"

namespace {

const char* toolHelp =
    "usage: nubilo COMMAND [ARGS]\n"
    "\n"
    "What will the Nubilo plug-in do with my settings?\n"
    "\n"
    "commands:\n"
    "  check [FILE]      the verdict on every line of a settings file, the weathers' minutes\n"
    "                    and marks, how the cycle will run and what the plug-in will log\n"
    "  simulate [...]    run the plug-in's real loop on a simulated clock and show the weather\n"
    "\n"
    "  nubilo COMMAND --help  tells more about each command\n"
    "\n"
    "examples:\n"
    "  nubilo check Nubilo.ini\n"
    "  nubilo simulate --hours 6\n";

}  // namespace

int runNubilo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "nubilo: name a command, check or simulate (see nubilo --help)\n";
        return exitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        out << toolHelp;
        return exitUsable;
    }
    if (args[0] == "check") return runCheck(rest, out, err);
    if (args[0] == "simulate") return runSimulate(rest, out, err);
    err << "nubilo: unknown command " << args[0] << " (see nubilo --help)\n";
    return exitUsage;
}

