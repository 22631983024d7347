#pragma once
// The nubilo command-line tool: `check` tells what the plug-in will make of a settings file,
// `simulate` runs the real script loop on the substitute host with a simulated clock.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settingsText.h"

// Exit statuses.
constexpr int exitUsable = 0;
constexpr int exitWouldReplace = 1;
constexpr int exitUsage = 2;

int runNubilo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runSimulate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// 2026-01-01 00:00:00 UTC: a simulation's day one.
constexpr std::int64_t simulationStart = 1767225600;

// A weather as the game showed it, from `at` seconds into the simulation.
struct Showing {
    std::int64_t at = 0;
    std::string displayName;
    std::string gameName;
    float wind = 0.0f;
};

struct Simulation {
    std::vector<Showing> shown;
    std::string log;  // the plug-in's Weather.txt
};

// Runs the plug-in's loop -- startCycle, then runCyclePass once a simulated second -- in the
// current directory, on a Nubilo.ini holding `settings` (none when null), for `seconds`. A pass
// in which nothing can happen (file unchanged, nothing due) is skipped unless everySecond.
Simulation simulateCycle(const std::string* settings, std::int64_t seconds, bool everySecond = false);

// The simulation as JSON: {"seconds":..,"bands":[{"weather","game","start","end","wind"}],"log":[..]}.
std::string simulationJson(const Simulation& simulation, std::int64_t seconds);

// One line of the file as `check` shows it.
struct CheckLine {
    std::string verdict;  // "setting Fog = 10 minutes; 1 mark: carries the star", ...
    std::string shown;    // the line itself, odd bytes escaped, long lines cut
    std::size_t count = 1;  // lines in a row with this verdict and text (always 1 line by line)
};

// How a report keeps its lines: one entry each, or consecutive equal lines as one entry with a
// count (a file of millions of blank lines stays small: the designer page's way).
enum class LineDetail { each, runs };

// One row of the weathers' table.
struct CheckWeather {
    std::string name;
    std::int32_t minutes = 30;
    bool byDefault = true;   // no valid line gave its minutes
    int marks = 0;           // marked lines of this weather
    bool star = false;       // the loader's star
};

// What the plug-in will do with a settings text, as `check` reports it.
struct CheckReport {
    LoadReport load;
    std::int32_t starLookup = -1;     // what the cycle step's lookup returns
    std::size_t starCount = 0;        // every '*' in the file
    std::int32_t lastSingleStar = -1; // the loader's star: last usable line with exactly one mark
    bool wouldReplace = false;        // the loader would back the file up and write defaults
    std::vector<std::string> logLines;  // what loading it writes to the log, in order
    SettingsEncoding encoding = SettingsEncoding::singleByte;
    std::vector<CheckLine> lines;
    std::vector<CheckWeather> weathers;  // the ten, in catalogue order
    std::string cycle;                   // the cycle in words
    bool stuck = false;                  // the weather never changes
    std::string stuckReason;             // why, in plain words, with the fix; empty when not stuck
    std::vector<std::string> warnings;   // works, but likely not as meant: what it does and how to
                                         // get what was probably meant
    std::vector<std::size_t> ignoredLines;  // 1-based numbers of the lines the loader ignores (the
                                            // first hundred; ignoredCount counts them all)
    std::size_t ignoredCount = 0;
    std::size_t lineCount = 0;
    std::string firstWeather;            // what the plug-in applies on loading it
    std::string conclusion;              // "Usable: ..." or "Not usable: ..."
};

// The report as JSON, for the designer page and its tests.
std::string checkReportJson(const CheckReport& report);

// A string as a JSON string literal; bytes beyond ASCII are written as \u00XX escapes of the
// byte, so any text of a settings file makes valid JSON.
std::string jsonString(std::string_view text);

// Takes the file's bytes as they are on disk (a UTF-16 file is decoded here) or as read.
CheckReport analyseSettings(std::string_view bytes, bool emptyFile, LineDetail detail = LineDetail::each);

// The report as JSON with its lines as runs: "lineRuns":[{"verdict","shown","count"}] in place of
// "lines", for a report made with LineDetail::runs.
std::string checkReportRunsJson(const CheckReport& report);

// The recognised key an unknown one was probably meant to be, or empty.
std::string suggestKey(std::string_view key);

// A line as it can be shown in a terminal: odd bytes escaped, long lines cut.
std::string printableLine(std::string_view line, std::size_t limit = 100);

// A cycle as the designer page edits it.
struct Design {
    std::vector<std::int32_t> order;    // catalogue indexes in cycle order; a weather may repeat
    std::size_t start = 0;              // the position in order the cycle starts at
    std::vector<std::int32_t> minutes;  // every weather's minutes, in catalogue order
};

// All ten in catalogue order from Clear, 30 minutes each: the plug-in's defaults.
Design defaultDesign();

// The settings file that makes the plug-in run exactly this cycle: the canonical layout with
// one star when the order is the catalogue's with all ten; otherwise a custom cycle of marked
// lines. Empty for a design without weathers.
std::string designedSettingsText(const Design& design);

// The cycle the plug-in makes of a checked file, to edit from.
Design designOf(const CheckReport& report);

std::string designJson(const Design& design);

// The design written by designJson, read back; false for anything else (nothing is guessed).
bool parseDesignJson(std::string_view json, Design& design);

// What the designer says under a design: how the plug-in will run it.
std::string designDescription(const Design& design);

// The catalogue, the minutes' range and the default design, for the designer page.
std::string designerFactsJson();

// Minutes typed by the player, read as the plug-in reads a value: {"ok":true,"minutes":N,"note":...}
// (note empty unless the plug-in reads the text otherwise than it looks) or {"ok":false,"reason":...}.
std::string minutesJson(std::string_view typed);

// "HH:MM:SS" from the start of the simulation, and "1h 0m", "30m 1s" for a length of time.
std::string clockText(std::int64_t seconds);
std::string durationText(std::int64_t seconds);
