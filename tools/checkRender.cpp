// The two renderers of `nubilo check` -- the text report and the JSON the designer page shows --
// and the command itself. Every sentence comes from checkWords.cpp and checkVerdicts.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "check.h"
#include "fileAccess/fileAccess.h"
#include "json.h"
#include "nubiloTool.h"
#include "settings/settingsFile.h"
#include "weather/applyWeather.h"

namespace {

const char* checkHelp =
    "usage: nubilo check [--json] [FILE]\n"
    "\n"
    "Reads a settings file the way the plug-in does and tells what it will do with it:\n"
    "every line's verdict, the ten weathers' minutes and marks, how the cycle will run, and the\n"
    "log lines the plug-in writes on loading it. It never writes anything.\n"
    "FILE defaults to Nubilo.ini in the current directory. --json prints the same as one JSON\n"
    "object (what the designer page shows).\n"
    "\n"
    "exit status: 0 usable, 1 the plug-in would replace it with defaults, 2 unreadable or bad usage\n"
    "\n"
    "examples:\n"
    "  nubilo check\n"
    "  nubilo check \"C:/Games/RDR2/Nubilo.ini\"\n";

// The page shows a thousand log lines at most; the tool gives them all.
constexpr std::size_t pageLogLines = 1000;

std::string lineName(std::size_t number) { return "line " + std::to_string(number); }

// A log line quotes a rejected key byte for byte; shown, its odd bytes are escaped like the file's
// lines, so that none reaches the terminal or the page as it is, and none is cut.
std::string shownLogLine(const std::string& line) { return printableLine(line, std::string::npos); }

std::string appliedLine(const CheckReport& report) { return appliedWeatherMessage(weatherName(report.firstWeather)); }

std::string encodingNote(SettingsEncoding encoding) {
    if (encoding == SettingsEncoding::utf8Mark) return ", starts with a UTF-8 byte-order mark, skipped";
    if (encoding == SettingsEncoding::singleByte) return "";
    return std::string(", ") + encodingName(encoding) + ", read as ASCII";
}

void writeWeatherTable(std::ostream& out, const CheckReport& report) {
    out << "\nWeather       Minutes        Marks  Star\n";
    for (const CheckWeather& row : report.weathers) {
        char line[96];
        std::snprintf(line, sizeof line, "%-13s %-14s %-6s %s", weatherName(row.weather).c_str(), minutesText(row).c_str(),
                      row.marks ? std::to_string(row.marks).c_str() : "-", row.star ? "*" : "");
        std::string trimmed = line;
        while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
        out << trimmed << "\n";
    }
}

void writeAlert(std::ostream& out, const Alert& alert) {
    out << "\n" << alert.text;
    for (std::size_t i = 0; i < alert.lines.size(); ++i) out << (i ? ", " : "") << lineName(alert.lines[i]);
    out << "\n";
}

}  // namespace

void writeCheckText(std::ostream& out, const std::string& path, const CheckReport& report) {
    out << "Checking " << path << " (" << report.lineCount << (report.lineCount == 1 ? " line" : " lines")
        << encodingNote(report.encoding) << ")\n\n";
    for (const CheckLine& line : report.lines)
        for (std::size_t k = 0; k < line.count; ++k) {
            out << "line " << line.number + k << ": " << lineVerdict(report, line) << "\n";
            if (!line.shown.empty()) out << "  | " << line.shown << "\n";
        }
    writeWeatherTable(out, report);
    out << "\nCycle: " << cycleText(report) << "\n";
    for (const Alert& alert : alertsOf(report)) writeAlert(out, alert);
    out << "\nOn loading this file the plug-in logs:\n";
    for (const std::string& line : report.logLines) out << "  " << shownLogLine(line) << "\n";
    out << "  " << appliedLine(report) << "\n";
    out << "\n" << conclusionOf(report) << "\n";
}

namespace {

void jsonLines(JsonText& json, const CheckReport& report, bool runs) {
    jsonKey(json, runs ? "lineRuns" : "lines");
    jsonOpen(json, '[');
    for (const CheckLine& line : report.lines) {
        jsonOpen(json, '{');
        jsonStringField(json, "verdict", lineVerdict(report, line));
        jsonStringField(json, "shown", line.shown);
        if (runs) {
            jsonNumberField(json, "count", static_cast<std::int64_t>(line.count));
        }
        jsonClose(json, '}');
    }
    jsonClose(json, ']');
}

void jsonWeathers(JsonText& json, const CheckReport& report) {
    jsonKey(json, "weathers");
    jsonOpen(json, '[');
    for (const CheckWeather& row : report.weathers) {
        jsonOpen(json, '{');
        jsonStringField(json, "name", weatherName(row.weather));
        jsonNumberField(json, "minutes", row.minutes);
        jsonBoolField(json, "byDefault", row.byDefault);
        jsonStringField(json, "minutesText", minutesText(row));
        jsonNumberField(json, "marks", row.marks);
        jsonBoolField(json, "star", row.star);
        jsonClose(json, '}');
    }
    jsonClose(json, ']');
}

void jsonAlert(JsonText& json, const char* kind, const std::string& text, const std::vector<std::size_t>& lines = {}) {
    jsonOpen(json, '{');
    jsonStringField(json, "kind", kind);
    jsonStringField(json, "text", text);
    if (!lines.empty()) {
        jsonKey(json, "lines");
        jsonOpen(json, '[');
        for (std::size_t number : lines) {
            jsonOpen(json, '{');
            jsonNumberField(json, "number", static_cast<std::int64_t>(number));
            jsonStringField(json, "text", lineName(number));
            jsonClose(json, '}');
        }
        jsonClose(json, ']');
    }
    jsonClose(json, '}');
}

// What the page shows above the lines, in the order shown: the conclusion leads when the file
// would be replaced and closes the list when all is well.
void jsonAlerts(JsonText& json, const CheckReport& report, const std::vector<Alert>& alerts) {
    static const char* const kinds[] = {"stuck", "note", "ignored"};  // in AlertKind's order
    jsonKey(json, "alerts");
    jsonOpen(json, '[');
    if (report.wouldReplace) jsonAlert(json, "wouldReplace", conclusionOf(report));
    for (const Alert& alert : alerts) jsonAlert(json, kinds[static_cast<int>(alert.kind)], alert.text, alert.lines);
    if (!report.wouldReplace && !report.stuck) jsonAlert(json, "ok", conclusionOf(report));
    jsonClose(json, ']');
}

void jsonLog(JsonText& json, const CheckReport& report, bool runs) {
    const std::vector<std::string>& lines = report.logLines;
    const std::size_t shown = runs ? std::min(lines.size(), pageLogLines) : lines.size();
    jsonKey(json, "log");
    jsonOpen(json, '[');
    for (std::size_t i = 0; i < shown; ++i) jsonString(json, shownLogLine(lines[i]));
    if (shown < lines.size()) jsonString(json, "... and " + std::to_string(lines.size() - shown) + " more lines");
    jsonString(json, appliedLine(report));
    jsonClose(json, ']');
}

void jsonStringList(JsonText& json, const char* key, const std::vector<std::string>& texts) {
    jsonKey(json, key);
    jsonOpen(json, '[');
    for (const std::string& text : texts) jsonString(json, text);
    jsonClose(json, ']');
}

}  // namespace

std::string checkReportJson(const CheckReport& report, LineDetail detail) {
    const bool runs = detail == LineDetail::runs;
    const std::vector<Alert> alerts = alertsOf(report);
    const std::string note = twoStarNote(report);
    JsonText json;
    jsonOpen(json, '{');
    jsonStringField(json, "encoding", encodingName(report.encoding));
    jsonNumberField(json, "lineCount", static_cast<std::int64_t>(report.lineCount));
    jsonLines(json, report, runs);
    jsonWeathers(json, report);
    jsonStringField(json, "cycle", cycleText(report));
    jsonBoolField(json, "stuck", report.stuck);
    jsonStringField(json, "stuckReason", stuckReason(report));
    jsonStringList(json, "warnings", note.empty() ? std::vector<std::string>{} : std::vector<std::string>{note});
    jsonAlerts(json, report, alerts);
    jsonKey(json, "ignoredLines");
    jsonOpen(json, '[');
    for (std::size_t number : report.ignoredLines) jsonNumber(json, static_cast<std::int64_t>(number));
    jsonClose(json, ']');
    jsonBoolField(json, "wouldReplace", report.wouldReplace);
    jsonLog(json, report, runs);
    jsonStringField(json, "conclusion", conclusionOf(report));
    jsonClose(json, '}');
    return json.text;
}

namespace {

struct CheckArguments {
    std::string path = settingsPath;  // the plug-in's, in the current directory
    bool json = false;
};

// goOn, or the exit status of a command line that names no check to make (help, or a mistake).
int readCheckArguments(const std::vector<std::string>& args, CheckArguments& read, std::ostream& out, std::ostream& err) {
    bool havePath = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << checkHelp;
            return exitUsable;
        }
        if (arg == "--json") {
            read.json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "nubilo check: unknown option " << arg << " (see nubilo check --help)\n";
            return exitUsage;
        } else if (havePath) {
            err << "nubilo check: one file at a time, not also " << arg << "\n";
            return exitUsage;
        } else {
            read.path = arg;
            havePath = true;
        }
    }
    return goOn;
}

}  // namespace

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CheckArguments arguments;
    if (const int done = readCheckArguments(args, arguments, out, err); done != goOn) return done;
    const std::string& path = arguments.path;
    // The bytes as they are on disk: the analysis reads them as the plug-in does, and only once.
    std::string bytes;
    errno = 0;
    const FileRead file = readWholeFile(path, bytes, true);
    if (!file.opened || file.readError) {
        err << "nubilo check: cannot read " << path
            << (file.readError ? " to its end" : std::string(": ") + std::strerror(errno))
            << (file.notFound ? " (the plug-in would write the default file there)" : "") << "\n";
        return exitUsage;
    }
    const CheckReport report = analyseSettings(bytes, file.identity.exists && file.identity.size == 0);
    if (arguments.json)
        out << checkReportJson(report) << "\n";
    else
        writeCheckText(out, path, report);
    return report.wouldReplace ? exitWouldReplace : exitUsable;
}
