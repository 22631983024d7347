#pragma once
// `nubilo check`: what the plug-in will make of a settings file. One analysis reads the text once
// and returns facts; the sentences are made from the facts by one set of functions; the text
// report and the JSON are two thin renderers of both.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settingsText.h"

// One line of the file, or equal lines in a row (LineDetail::runs), as the parser read it.
struct CheckLine {
    std::size_t number = 0;  // 1-based; the first line of a run
    std::size_t count = 1;   // lines in the run (always 1 line by line)
    LineKind kind = LineKind::empty;
    std::string key;
    ValueVerdict value = ValueVerdict::noDigits;
    std::int32_t minutes = 0;
    int marks = 0;
    std::int32_t weather = -1;  // the recognised key's catalogue index
    bool starSeen = false;      // a recognised key with a '*' anywhere: the star lookup sees it
    std::string shown;          // the line itself, odd bytes escaped, long lines cut, no CR LF
};

// How a report keeps its lines: one entry each, or consecutive equal lines as one entry with a
// count (a file of millions of blank lines stays small: the designer page's way).
enum class LineDetail { each, runs };

// One row of the weathers' table.
struct CheckWeather {
    std::int32_t weather = 0;  // catalogue index
    std::int32_t minutes = 30;
    bool byDefault = true;     // no valid line gave its minutes
    int marks = 0;             // marked lines of this weather
    bool star = false;         // the loader's star
};

// A line holding a '*', for the stuck verdicts.
struct StarLine {
    std::size_t number = 0;
    bool carriesLookup = false;  // a recognised key with exactly one '*' on the line
    int marks = 0;
    std::int32_t weather = -1;
};

// A usable line with exactly one mark.
struct SingleStar {
    std::size_t number = 0;
    std::int32_t weather = 0;
};

// What the plug-in will do with a settings text: facts only.
struct CheckReport {
    SettingsEncoding encoding = SettingsEncoding::singleByte;
    bool emptyFile = false;
    std::size_t lineCount = 0;
    LoadReport load;                   // the loader's read, its outcome and its log lines
    std::int32_t starLookup = -1;      // what the cycle step's lookup returns
    std::size_t starCount = 0;         // every '*' in the file
    bool wouldReplace = false;         // the loader would back the file up and write defaults
    bool stuck = false;                // the weather never changes
    std::int32_t firstWeather = 0;     // what the plug-in applies on loading it
    std::vector<std::string> logLines; // what loading it writes before the applied weather
    std::vector<CheckLine> lines;
    std::vector<CheckWeather> weathers;  // the ten, in catalogue order
    std::vector<StarLine> starLines;     // the first hundred lines with a '*'
    std::vector<SingleStar> singleStars; // the first 99 and the last: the last is the loader's star
    std::vector<std::size_t> ignoredLines;  // the first hundred lines the loader ignores
    std::size_t ignoredCount = 0;
};

// Takes the file's bytes as they are on disk and reads them as the plug-in does (settingsTextOf):
// never text read already, which the reading would change again ("\r\r\n" loses a CR each time).
CheckReport analyseSettings(std::string_view bytes, bool emptyFile, LineDetail detail = LineDetail::each);

// ---- the sentences, made once from the facts ----

// A paragraph the report shows above the log: why the file is stuck, a note, the ignored lines.
enum class AlertKind { stuck, note, ignored };
struct Alert {
    AlertKind kind = AlertKind::note;
    std::string text;
    std::vector<std::size_t> lines;  // line numbers it names, listed after the text as "line N"
};

std::string lineVerdict(const CheckReport& report, const CheckLine& line);
std::string cycleText(const CheckReport& report);
std::string stuckReason(const CheckReport& report);  // empty when not stuck
std::string twoStarNote(const CheckReport& report);  // two single stars making a custom cycle; or empty
std::vector<Alert> alertsOf(const CheckReport& report);
std::string conclusionOf(const CheckReport& report);
std::string minutesText(const CheckWeather& row);  // "30 (default)"
const std::string& weatherName(std::int32_t index);
const char* valueRejection(ValueVerdict verdict);  // "no digits", "out of 1..1440", ...

// The recognised key an unknown one was probably meant to be, or empty.
std::string suggestKey(std::string_view key);

// A line as it can be shown in a terminal: odd bytes escaped, long lines cut.
std::string printableLine(std::string_view line, std::size_t limit = 100);

// ---- the renderers ----

void writeCheckText(std::ostream& out, const std::string& path, const CheckReport& report);

// The report as JSON, for the designer page and its tests. With lines as runs,
// "lineRuns":[{"verdict","shown","count"}] stands in place of "lines" and the log is cut at a
// thousand lines.
std::string checkReportJson(const CheckReport& report, LineDetail detail = LineDetail::each);

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
