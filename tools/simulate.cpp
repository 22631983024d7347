#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <random>
#include <sstream>

#include "check.h"
#include "fileAccess/fileAccess.h"
#include "nubiloTool.h"
#include "simulate.h"
#include "settings/catalogue.h"
#include "substitute/substituteHost.h"
#include "weather/applyWeather.h"

namespace fs = std::filesystem;

namespace {

const char* simulateHelp =
    "usage: nubilo simulate [--settings FILE] [--hours H] [--log] [--json]\n"
    "\n"
    "Runs the plug-in's real script loop on a simulated clock, one pass per simulated second,\n"
    "and prints what the game would have shown: a timeline and a bar strip.\n"
    "It works on a private copy of FILE (the file itself is never touched); without\n"
    "--settings it starts with no file, so the plug-in writes and uses its defaults.\n"
    "\n"
    "  --settings FILE  the settings file to start from\n"
    "  --hours H        how long to run, 0 < H <= 8784 (default 24; fractions allowed)\n"
    "  --log            also print the plug-in's own log lines, in order\n"
    "  --json           print the weathers shown and the log as one JSON object\n"
    "\n"
    "examples:\n"
    "  nubilo simulate\n"
    "  nubilo simulate --settings Nubilo.ini --hours 6 --log\n";

// A leap year's hours: a year of play is more than anyone asks for.
constexpr double maxHours = 8784;

char stripLetter(const std::string& displayName) {
    static const char* letters = "RTODFCSWLB";  // Rain Thunder (O)vercast Dust Fog Clear Snow Wind snow(L)ight Blizzard
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i)
        if (weatherCatalogue[i].displayName == displayName) return letters[i];
    return '?';
}

struct ScratchDirectory {
    fs::path path;
    fs::path previous;
};

void leaveScratch(const ScratchDirectory& scratch) {
    std::error_code error;
    if (!scratch.previous.empty()) fs::current_path(scratch.previous, error);
    fs::remove_all(scratch.path, error);
}

// A fresh directory of our own in the system's temporary folder, made the current one; on any
// failure nothing of it is left.
bool enterScratch(ScratchDirectory& scratch, std::ostream& err) {
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    std::random_device seed;
    bool made = false;
    for (int attempt = 0; attempt < 100 && !error && !made; ++attempt) {  // 100 names taken in a row: give up
        scratch.path = temporary / ("nubilo-simulate-" + std::to_string(seed()));
        made = fs::create_directory(scratch.path, error);
    }
    // A current directory removed under us is no reason to refuse: there is nothing to go back to.
    std::error_code gone;
    if (made) scratch.previous = fs::current_path(gone);
    if (made) fs::current_path(scratch.path, error);
    if (made && !error) return true;
    if (made) leaveScratch(scratch);
    err << "nubilo simulate: cannot make a private directory: " << error.message() << "\n";
    return false;
}

// The simulation in a private directory, which is removed whatever happens, a throw included.
bool simulateInScratch(const std::string* settings, std::int64_t seconds, Simulation& simulation, std::ostream& err) {
    ScratchDirectory scratch;
    if (!enterScratch(scratch, err)) return false;
    try {
        simulation = simulateCycle(settings, seconds);
    } catch (...) {
        leaveScratch(scratch);
        throw;
    }
    leaveScratch(scratch);
    return true;
}

struct SimulateArguments {
    std::string settings;
    double hours = 24;
    bool showLog = false;
    bool json = false;
};

bool readHours(const std::string& value, double& hours, std::ostream& err) {
    char* end = nullptr;
    errno = 0;
    hours = std::strtod(value.c_str(), &end);
    if (!value.empty() && *end == '\0' && errno == 0 && hours > 0 && hours <= maxHours) return true;
    err << "nubilo simulate: --hours wants a number of hours above 0 and at most 8784, not \"" << value << "\"\n";
    return false;
}

// goOn, or the exit status of a command line that names no simulation to run (help, a mistake).
int readSimulateArguments(const std::vector<std::string>& args, SimulateArguments& read, std::ostream& out,
                          std::ostream& err) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out << simulateHelp;
            return exitUsable;
        }
        if (arg == "--log") {
            read.showLog = true;
        } else if (arg == "--json") {
            read.json = true;
        } else if (arg != "--settings" && arg != "--hours") {
            err << "nubilo simulate: unknown argument " << arg << " (see nubilo simulate --help)\n";
            return exitUsage;
        } else if (i + 1 == args.size()) {
            err << "nubilo simulate: " << arg << " needs a value (see nubilo simulate --help)\n";
            return exitUsage;
        } else if (arg == "--settings") {
            read.settings = args[++i];
        } else if (!readHours(args[++i], read.hours, err)) {
            return exitUsage;
        }
    }
    return goOn;
}

void writeTimeline(std::ostream& out, const std::vector<Showing>& shown, std::int64_t seconds) {
    out << "time      weather      game name   wind    showed\n";
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const std::int64_t until = i + 1 < shown.size() ? shown[i + 1].at : seconds;
        char row[128];
        std::snprintf(row, sizeof row, "%s  %-12s %-10s %6.1f   %s%s", clockText(shown[i].at).c_str(),
                      shown[i].displayName.c_str(), shown[i].gameName.c_str(), static_cast<double>(shown[i].wind),
                      durationText(until - shown[i].at).c_str(), i + 1 < shown.size() ? "" : " (to the end)");
        out << row << "\n";
    }
}

void writeStrip(std::ostream& out, const std::vector<Showing>& shown, std::int64_t seconds) {
    constexpr int width = 72;  // columns of the strip: fits an 80-column terminal with its note
    out << "\n|";
    std::size_t current = 0;
    for (int column = 0; column < width; ++column) {
        const std::int64_t at = seconds * column / width;
        while (current + 1 < shown.size() && shown[current + 1].at <= at) ++current;
        out << (shown.empty() ? ' ' : stripLetter(shown[current].displayName));
    }
    out << "|  one mark = " << durationText(std::max<std::int64_t>(1, seconds / width)) << "\n";
    out << " R Rain  T Thunder  O Cloudy  D Dust Storms  F Fog  C Clear  S Snow  W Wind  L Snowlight  B Blizzard\n";
}

void writeSimulationText(std::ostream& out, const SimulateArguments& arguments, const Simulation& simulation,
                         std::int64_t seconds) {
    out << "Simulating " << durationText(seconds) << " on "
        << (arguments.settings.empty() ? std::string("the plug-in's default settings") : arguments.settings)
        << ", one pass per simulated second\n\n";
    writeTimeline(out, simulation.shown, seconds);
    writeStrip(out, simulation.shown, seconds);
    if (arguments.showLog) {
        out << "\nThe plug-in's log:\n";
        std::istringstream lines(simulation.log);
        // A rejected key is logged byte for byte: escaped here, none of its bytes drives the terminal.
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out << "  " << printableLine(line, std::string::npos) << "\n";
        }
    }
}

}  // namespace

std::string clockText(std::int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string durationText(std::int64_t seconds) {
    std::string text;
    if (seconds >= 3600) text += std::to_string(seconds / 3600) + "h ";
    if (seconds >= 60) text += std::to_string(seconds / 60 % 60) + "m";
    if (seconds % 60 != 0 || seconds < 60) {
        if (!text.empty()) text += ' ';
        text += std::to_string(seconds % 60) + "s";
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}


int runSimulate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    SimulateArguments arguments;
    if (const int done = readSimulateArguments(args, arguments, out, err); done != goOn) return done;
    std::string original;
    if (!arguments.settings.empty()) {
        const FileRead read = readWholeFile(arguments.settings, original, true);
        if (!read.opened || read.readError) {
            err << "nubilo simulate: cannot read " << arguments.settings << "\n";
            return exitUsage;
        }
    }
    const auto seconds = static_cast<std::int64_t>(std::llround(arguments.hours * 3600));
    Simulation simulation;
    if (!simulateInScratch(arguments.settings.empty() ? nullptr : &original, seconds, simulation, err)) return exitUsage;
    if (arguments.json)
        out << simulationJson(simulation, seconds) << "\n";
    else
        writeSimulationText(out, arguments, simulation, seconds);
    return exitUsable;
}
