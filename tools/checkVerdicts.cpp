// The file's verdicts in words, made once from the analysis' facts: the cycle, why it is stuck,
// the note on two single stars, the ignored lines and the conclusion. The text report and the
// designer page show these very sentences.
#include <algorithm>

#include "check.h"

namespace {

std::string arrowList(const std::vector<std::int32_t>& indexes) {
    std::string text;
    for (std::size_t i = 0; i < indexes.size(); ++i) text += (i ? " \u2192 " : "") + weatherName(indexes[i]);
    return text;
}

// "line 3", "lines 1, 2 and 4"; a file can hold millions, and the first ten name them well enough.
std::string lineList(std::vector<std::size_t> numbers) {
    const bool more = numbers.size() > 10;
    if (more) numbers.resize(10);
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        text += i == 0 ? "" : i + 1 == numbers.size() ? " and " : ", ";
        text += std::to_string(numbers[i]);
    }
    if (more) text += " and more";
    return (numbers.size() == 1 ? "line " : "lines ") + text;
}

std::string minutesOf(const SettingsRead& read, std::int32_t index) {
    return std::to_string(read.intervals.at(weatherName(index)));
}

bool oneWeatherOnly(const SettingsRead& read) {
    const auto& marked = read.markedIndexes;
    return marked.size() >= 2 && std::all_of(marked.begin(), marked.end(), [&](std::int32_t i) { return i == marked.front(); });
}

std::string customCycleText(const SettingsRead& read) {
    const std::string& first = weatherName(read.markedIndexes.front());
    if (oneWeatherOnly(read))
        return "one weather only: " + first + ", re-applied every " + minutesOf(read, read.markedIndexes.front()) +
               " minutes (a custom cycle of " + std::to_string(read.markedIndexes.size()) + " marked " + first + " lines)";
    const std::size_t start = customStartPosition(read.markedIndexes, read.startIndex);
    return "custom cycle " + arrowList(read.markedIndexes) + ", in memory only; starts with " +
           weatherName(read.markedIndexes[start]) + " (position " + std::to_string(start + 1) + ")";
}

std::string catalogueCycleText(const CheckReport& report) {
    const SettingsRead& read = report.load.read;
    const std::string& start = weatherName(read.startIndex);
    const std::string minutes = minutesOf(read, read.startIndex);
    if (report.starLookup >= 0 && starIsMovable(report.starCount)) {
        std::string text = "catalogue order from " + start + "; the star moves through the file, so a restart resumes there";
        if (report.starLookup != read.startIndex)
            text += "\n  note: the star lookup sees the star on " + weatherName(report.starLookup) + ", so the first step goes to " +
                    weatherName((report.starLookup + 1) % static_cast<std::int32_t>(weatherCatalogue.size()));
        return text;
    }
    if (report.starLookup >= 0)
        return "stuck on " + start + ": the star lookup finds " + weatherName(report.starLookup) + ", but the file holds " +
               std::to_string(report.starCount) +
               " \"*\" in all and the plug-in only rewrites a file with exactly one, so the weather never changes";
    if (starIsMovable(report.starCount))
        return "no star on a setting line: " + start + " is re-applied after " + minutes +
               " minutes and the lone \"*\" is written onto it; then catalogue order from " + start;
    return "no star: the current weather (" + start + ") is re-applied every " + minutes + " minutes";
}

std::string twoStarsText(const CheckReport& report, const StarLine& star) {
    const std::string& start = weatherName(report.load.read.startIndex);
    const std::string number = std::to_string(star.number);
    return "line " + number + " (" + weatherName(report.starLookup) +
           ") has two stars (\"**\") and no other line is marked. Two stars mark a weather without making it the "
           "start, so the cycle starts at " + start + ", and Nubilo only moves the star in a file with exactly one "
           "\"*\": it stays on " + start + ". Fix: write one star on line " + number + " to start from " +
           weatherName(report.starLookup) + ", or mark a second line for a custom cycle.";
}

// Several '*': the line the lookup takes, if any, and the others.
std::string manyStarsText(const CheckReport& report) {
    const std::string& start = weatherName(report.load.read.startIndex);
    std::vector<std::size_t> others;
    std::size_t carrier = 0;
    for (const StarLine& star : report.starLines) {
        if (report.starLookup >= 0 && star.carriesLookup && star.weather == report.starLookup && carrier == 0)
            carrier = star.number;
        else
            others.push_back(star.number);
    }
    const std::string count = std::to_string(report.starCount);
    if (carrier != 0)
        return "line " + std::to_string(carrier) + " carries the star (" + weatherName(report.starLookup) + "), but the file has " +
               count + " \"*\" in all, also on " + lineList(others) + ". Nubilo only moves the star in a file with exactly one "
               "\"*\", so the weather stays " + start + ". Fix: remove the \"*\" on " + lineList(others) + ".";
    return "the file has " + count + " \"*\" (on " + lineList(others) +
           "), and the star Nubilo moves must be the only one in the file, so the weather stays " + start +
           ". Fix: keep one * after the minutes of the weather to start from, on a line with a valid value, and remove "
           "the others.";
}

}  // namespace

std::string cycleText(const CheckReport& report) {
    if (report.wouldReplace) return "after the defaults are written: catalogue order from Clear";
    if (report.load.read.markedIndexes.size() >= 2) return customCycleText(report.load.read);
    return catalogueCycleText(report);
}

std::string stuckReason(const CheckReport& report) {
    if (!report.stuck) return {};
    const SettingsRead& read = report.load.read;
    if (report.starCount == 0)
        return "no line has a \"*\", so Nubilo shows " + weatherName(read.startIndex) + " again every " +
               minutesOf(read, read.startIndex) +
               " minutes and never moves on. Fix: put one * after the minutes of the weather to start from, for "
               "example \"Set Clear Time = 30*\".";
    if (report.starLookup >= 0 && report.starLines.size() == 1 && report.starLines[0].marks == 2)
        return twoStarsText(report, report.starLines[0]);
    return manyStarsText(report);
}

std::string twoStarNote(const CheckReport& report) {
    const SettingsRead& read = report.load.read;
    const std::vector<SingleStar>& stars = report.singleStars;
    if (report.wouldReplace || read.markedIndexes.size() < 2 || stars.size() < 2) return {};
    std::vector<std::size_t> numbers;
    std::string names;
    for (std::size_t i = 0; i < stars.size(); ++i) {
        numbers.push_back(stars[i].number);
        names += i == 0 ? "" : i + 1 == stars.size() ? " and " : ", ";
        names += weatherName(stars[i].weather);
    }
    const std::vector<std::size_t> earlier(numbers.begin(), numbers.end() - 1);
    return lineList(numbers) + " each carry one star (" + names + "). Marked lines make a custom cycle: " +
           arrowList(read.markedIndexes) + ", starting with " + weatherName(firstWeatherIndex(read.markedIndexes, read.startIndex)) +
           ", not all ten weathers. If you moved the star to " + weatherName(stars.back().weather) + ", remove the star on " +
           lineList(earlier) + " to run all ten weathers in order from there.";
}

std::vector<Alert> alertsOf(const CheckReport& report) {
    std::vector<Alert> alerts;
    if (report.stuck) alerts.push_back({AlertKind::stuck, "Stuck: the weather never changes with this file: " + stuckReason(report), {}});
    const std::string note = twoStarNote(report);
    if (!note.empty()) alerts.push_back({AlertKind::note, "Note: " + note, {}});
    if (report.ignoredCount > 0) {
        const std::size_t count = report.ignoredCount, listed = report.ignoredLines.size();
        alerts.push_back({AlertKind::ignored,
                          std::to_string(count) + (count == 1 ? " line is ignored: " : " lines are ignored: ") +
                              (count > listed ? "the first " + std::to_string(listed) + ": " : ""),
                          report.ignoredLines});
    }
    return alerts;
}

std::string conclusionOf(const CheckReport& report) {
    if (report.wouldReplace)
        return std::string("Not usable: no line has a known key with a valid value. The plug-in ") +
               (report.emptyFile ? "replaces this empty file with defaults."
                                 : "copies it to Nubilo.ini.bak and replaces it with defaults.");
    return report.stuck ? "Usable, but stuck: the plug-in keeps this file and the weather never changes."
                        : "Usable: the plug-in keeps this file.";
}
