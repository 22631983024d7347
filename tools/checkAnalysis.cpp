// The analysis behind `nubilo check`: one walk over the text, as the loader takes it, gathering
// facts. No sentence is made here.
#include <algorithm>

#include "check.h"
#include "settings/settingsFile.h"

namespace {

// How many line numbers a report keeps of a kind; a file may hold millions.
constexpr std::size_t maxListed = 100;

struct Walk {
    CheckReport& report;
    LineDetail detail;
    std::vector<bool> given;  // a usable line set the weather's minutes
    StarLookup lookup;
    bool starAlone = false;  // the last entry is the newest single star, kept apart
};

bool isUsable(const SettingsLine& line) {
    return line.kind == LineKind::setting && line.verdict == ValueVerdict::valid && line.catalogueIndex >= 0;
}

CheckLine lineFacts(std::size_t number, std::string_view raw, const SettingsLine& parsed) {
    CheckLine line;
    line.number = number;
    line.kind = parsed.kind;
    line.key = std::string(parsed.key);
    line.value = parsed.verdict;
    line.minutes = parsed.minutes;
    line.marks = parsed.markCount;
    line.weather = parsed.catalogueIndex;
    line.starSeen = parsed.catalogueIndex >= 0 && parsed.starsOnLine > 0;
    // Notepad's CR LF is gone already (settingsTextOf): a CR still here is one the loader sees.
    if (!raw.empty()) line.shown = printableLine(raw);
    return line;
}

bool sameRun(const CheckLine& a, const CheckLine& b) {
    return a.kind == b.kind && a.key == b.key && a.value == b.value && a.minutes == b.minutes && a.marks == b.marks &&
           a.weather == b.weather && a.starSeen == b.starSeen && a.shown == b.shown;
}

// The newest single star may be the loader's, whose verdict is its own: in runs it stands alone
// until another comes, and then joins the run of its equals before it.
void addLine(Walk& walk, CheckLine line, bool singleStar) {
    std::vector<CheckLine>& lines = walk.report.lines;
    const bool runs = walk.detail == LineDetail::runs;
    const std::size_t n = lines.size();
    if (runs && singleStar && walk.starAlone && n >= 2 && sameRun(lines[n - 2], lines[n - 1])) {
        ++lines[n - 2].count;
        lines.pop_back();
    }
    if (runs && !singleStar && !lines.empty() && sameRun(lines.back(), line)) {
        ++lines.back().count;
        return;
    }
    lines.push_back(std::move(line));
    walk.starAlone = singleStar;
}

// Gathers one line, as the loader takes it, into the report's counts, lists and runs.
void gatherLine(Walk& walk, std::string_view raw, const SettingsLine& parsed) {
    CheckReport& report = walk.report;
    const std::size_t number = ++report.lineCount;
    gatherStarLine(walk.lookup, parsed);
    report.starCount += parsed.starsOnLine;
    const bool usable = isUsable(parsed);
    const bool singleStar = usable && parsed.markCount == 1;
    if (usable) walk.given[static_cast<std::size_t>(parsed.catalogueIndex)] = true;
    if (singleStar) {
        if (report.singleStars.size() == maxListed) report.singleStars.pop_back();  // the last is the loader's
        report.singleStars.push_back({number, parsed.catalogueIndex});
    }
    if (parsed.kind == LineKind::noEquals || (parsed.kind == LineKind::setting && !usable))
        if (++report.ignoredCount <= maxListed) report.ignoredLines.push_back(number);
    if (parsed.starsOnLine > 0 && report.starLines.size() < maxListed)
        report.starLines.push_back(
            {number, parsed.kind == LineKind::setting && parsed.starsOnLine == 1, parsed.markCount, parsed.catalogueIndex});
    addLine(walk, lineFacts(number, raw, parsed), singleStar);
}

// The ten weathers' rows, from the finished read.
void addWeatherRows(CheckReport& report, const std::vector<bool>& given) {
    const SettingsRead& read = report.load.read;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) {
        CheckWeather row;
        row.weather = static_cast<std::int32_t>(i);
        row.minutes = read.intervals.at(weatherCatalogue[i].displayName);
        row.byDefault = !given[i];
        row.marks = static_cast<int>(std::count(read.markedIndexes.begin(), read.markedIndexes.end(), row.weather));
        row.star = !report.singleStars.empty() && report.singleStars.back().weather == row.weather;
        report.weathers.push_back(row);
    }
}

}  // namespace

CheckReport analyseSettings(std::string_view bytes, bool emptyFile, LineDetail detail) {
    CheckReport report;
    report.encoding = detectEncoding(bytes);
    report.emptyFile = emptyFile;
    Walk walk{report, detail, std::vector<bool>(weatherCatalogue.size(), false), StarLookup{}, false};
    const std::string text = settingsTextOf(bytes);
    report.load =
        readSettingsText(text, 0, [&](std::string_view raw, const SettingsLine& parsed) { gatherLine(walk, raw, parsed); });
    report.starLookup = starLookupResult(walk.lookup);
    report.wouldReplace = report.load.outcome == LoadOutcome::noUsableLine;
    report.logLines = report.load.messages;
    if (report.wouldReplace) {
        if (!emptyFile) report.logLines.emplace_back(backupSavedMessage);
        report.logLines.emplace_back(defaultsWrittenMessage);
    }
    addWeatherRows(report, walk.given);
    const SettingsRead& read = report.load.read;
    // Outside a custom cycle the weather moves on only through the star's rewrite.
    report.stuck = !report.wouldReplace && read.markedIndexes.size() < 2 && !starIsMovable(report.starCount);
    report.firstWeather = firstWeatherIndex(read.markedIndexes, read.startIndex);
    return report;
}
