#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cctype>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "fileAccess/fileAccess.h"
#include "nubiloTool.h"
#include "settings/settingsFile.h"

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

std::string lowerCollapsed(std::string_view text) {
    std::string result;
    for (char c : text) {
        if (settingsWhitespace.find(c) != std::string_view::npos) {
            if (!result.empty() && result.back() != ' ') result += ' ';
        } else {
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    while (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

const std::string& nameOf(std::int32_t index) { return weatherCatalogue[static_cast<std::size_t>(index)].displayName; }

const char* rejection(ValueVerdict verdict) {
    switch (verdict) {
        case ValueVerdict::noDigits: return "no digits";
        case ValueVerdict::outOfRange: return "out of 1..1440";
        case ValueVerdict::beyond32Bits: return "beyond 32 bits";
        case ValueVerdict::valid: break;
    }
    return "valid";
}

// A key as the player can tell it from the real one: tabs, runs of blanks, no-break spaces and
// every other character beyond ASCII named (bidi controls and other invisible format characters
// among them), so that no look-alike shows as the key it imitates.
std::string visibleKey(std::string_view key) {
    std::string shown;
    for (std::size_t i = 0; i < key.size();) {
        const auto byte = static_cast<unsigned char>(key[i]);
        if (byte == ' ') {
            std::size_t run = 1;
            while (i + run < key.size() && key[i + run] == ' ') ++run;
            shown += run == 1 ? " " : "\u27E8" + std::to_string(run) + " spaces\u27E9";
            i += run;
            continue;
        }
        if (byte == '\t') {
            shown += "\u27E8tab\u27E9";
            ++i;
            continue;
        }
        if (byte < 0x80) {
            shown += static_cast<char>(byte);
            ++i;
            continue;
        }
        // One UTF-8 sequence, or a stray byte of another encoding.
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        std::uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
        bool whole = length > 1 && i + length <= key.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            const auto next = static_cast<unsigned char>(key[i + k]);
            whole = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        char name[48];
        if (!whole)
            std::snprintf(name, sizeof name, "\u27E8byte %02X\u27E9", byte);
        else if (code == 0xA0)
            std::snprintf(name, sizeof name, "\u27E8no-break space\u27E9");
        else
            std::snprintf(name, sizeof name, "\u27E8non-ASCII U+%04X\u27E9", static_cast<unsigned>(code));
        shown += name;
        i += whole ? length : 1;
    }
    return shown;
}

std::string marksText(int count) { return std::to_string(count) + (count == 1 ? " mark" : " marks"); }

std::string lineVerdict(const SettingsLine& line) {
    std::string verdict;
    switch (line.kind) {
        case LineKind::empty: return "empty";
        case LineKind::comment: return "comment";
        case LineKind::section: return "section header (ignored, whatever follows on the line)";
        case LineKind::noEquals: return "ignored: no \"=\"";
        case LineKind::setting: break;
    }
    const std::string key = visibleKey(line.key);
    if (line.verdict != ValueVerdict::valid) {
        verdict = "rejected value for \"" + key + "\": " + rejection(line.verdict) + "; the line" +
                  (line.markCount > 0 ? " and its " + marksText(line.markCount) + " count" : " counts") + " for nothing";
    } else if (line.catalogueIndex < 0) {
        verdict = "unknown key \"" + key + "\", ignored" + (line.markCount > 0 ? " with its " + marksText(line.markCount) : "");
    } else {
        verdict = "setting " + nameOf(line.catalogueIndex) + " = " + std::to_string(line.minutes) + " minutes";
        if (line.markCount == 1) verdict += "; 1 mark: carries the star";
        if (line.markCount > 1) verdict += "; " + std::to_string(line.markCount) + " marks: marked, no star";
    }
    if (line.catalogueIndex < 0) {
        std::string meant = suggestKey(line.key);
        if (!meant.empty()) verdict += " (did you mean \"" + meant + "\"?)";
    }
    if (line.catalogueIndex >= 0 && line.starsOnLine > 0) verdict += "; star lookup sees a \"*\"";
    return verdict;
}

std::string arrowList(const std::vector<std::int32_t>& indexes) {
    std::string text;
    for (std::size_t i = 0; i < indexes.size(); ++i) text += (i ? " \u2192 " : "") + nameOf(indexes[i]);
    return text;
}

std::string cycleSummary(const CheckReport& report) {
    const SettingsRead& read = report.load.read;
    if (report.wouldReplace) return "after the defaults are written: catalogue order from Clear";
    const bool oneWeather = !read.markedIndexes.empty() &&
                            std::all_of(read.markedIndexes.begin(), read.markedIndexes.end(),
                                        [&](std::int32_t i) { return i == read.markedIndexes.front(); });
    if (read.markedIndexes.size() >= 2 && oneWeather) {
        const std::string& name = nameOf(read.markedIndexes.front());
        return "one weather only: " + name + ", re-applied every " + std::to_string(read.intervals.at(name)) +
               " minutes (a custom cycle of " + std::to_string(read.markedIndexes.size()) + " marked " + name + " lines)";
    }
    if (read.markedIndexes.size() >= 2) {
        const std::size_t start = customStartPosition(read.markedIndexes, read.startIndex);
        return "custom cycle " + arrowList(read.markedIndexes) + ", in memory only; starts with " +
               nameOf(read.markedIndexes[start]) + " (position " + std::to_string(start + 1) + ")";
    }
    const std::string start = nameOf(read.startIndex);
    const std::string minutes = std::to_string(read.intervals.at(start));
    if (report.starLookup >= 0 && report.starCount == 1) {
        std::string text = "catalogue order from " + start + "; the star moves through the file, so a restart resumes there";
        if (report.starLookup != read.startIndex)
            text += "\n  note: the star lookup sees the star on " + nameOf(report.starLookup) + ", so the first step goes to " +
                    nameOf((report.starLookup + 1) % 10);
        return text;
    }
    if (report.starLookup >= 0)
        return "stuck on " + start + ": the star lookup finds " + nameOf(report.starLookup) + ", but the file holds " +
               std::to_string(report.starCount) +
               " \"*\" in all and the plug-in only rewrites a file with exactly one, so the weather never changes";
    if (report.starCount == 1)
        return "no star on a setting line: " + start + " is re-applied after " + minutes +
               " minutes and the lone \"*\" is written onto it; then catalogue order from " + start;
    return "no star: the current weather (" + start + ") is re-applied every " + minutes + " minutes";
}

// How many line numbers a report lists of a kind; a file may hold millions.
constexpr std::size_t maxListed = 100;

// Where the '*' of a file stand, for the plain-words verdicts.
struct StarLine {
    std::size_t number;  // 1-based
    std::size_t stars;
    SettingsLine line;
};

std::string lineList(std::vector<std::size_t> numbers) {
    // A file can hold millions: the first ten name them well enough.
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

// Why a file that is not a custom cycle never moves on, and the fix; the caller has found that
// its star count is not exactly one, which is what the star's rewrite needs.
std::string stuckReason(const CheckReport& report, const std::vector<StarLine>& starLines) {
    const SettingsRead& read = report.load.read;
    const std::string start = nameOf(read.startIndex);
    const std::string minutes = std::to_string(read.intervals.at(start));
    if (report.starCount == 0)
        return "no line has a \"*\", so Nubilo shows " + start + " again every " + minutes +
               " minutes and never moves on. Fix: put one * after the minutes of the weather to start from, for "
               "example \"Set Clear Time = 30*\".";
    if (report.starLookup >= 0 && starLines.size() == 1 && starLines[0].line.markCount == 2)
        return "line " + std::to_string(starLines[0].number) + " (" + nameOf(report.starLookup) +
               ") has two stars (\"**\") and no other line is marked. Two stars mark a weather without making it the "
               "start, so the cycle starts at " + start + ", and Nubilo only moves the star in a file with exactly one "
               "\"*\": it stays on " + start + ". Fix: write one star on line " + std::to_string(starLines[0].number) +
               " to start from " + nameOf(report.starLookup) + ", or mark a second line for a custom cycle.";
    std::vector<std::size_t> others;
    std::size_t carrier = 0;
    for (const StarLine& star : starLines) {
        const bool carries = report.starLookup >= 0 && star.line.kind == LineKind::setting &&
                             star.line.catalogueIndex == report.starLookup && star.line.starsOnLine == 1 && carrier == 0;
        if (carries)
            carrier = star.number;
        else
            others.push_back(star.number);
    }
    if (carrier != 0)
        return "line " + std::to_string(carrier) + " carries the star (" + nameOf(report.starLookup) + "), but the file has " +
               std::to_string(report.starCount) + " \"*\" in all, also on " + lineList(others) +
               ". Nubilo only moves the star in a file with exactly one \"*\", so the weather stays " + start +
               ". Fix: remove the \"*\" on " + lineList(others) + ".";
    return "the file has " + std::to_string(report.starCount) + " \"*\" (on " + lineList(others) +
           "), and the star Nubilo moves must be the only one in the file, so the weather stays " + start +
           ". Fix: keep one * after the minutes of the weather to start from, on a line with a valid value, and remove "
           "the others.";
}

}  // namespace

std::string suggestKey(std::string_view key) {
    const std::string wanted = lowerCollapsed(key);
    std::string best;
    std::size_t bestDistance = 3;
    for (const WeatherEntry& entry : weatherCatalogue) {
        const std::string real = settingsKey(entry);
        std::size_t distance = editDistance(wanted, lowerCollapsed(real));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = real;
        }
    }
    return best;
}

std::string printableLine(std::string_view line, std::size_t limit) {
    std::string shown;
    for (std::size_t i = 0; i < line.size() && i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (line.size() > limit) shown += " ... (" + std::to_string(line.size() - limit) + " more bytes)";
    return shown;
}

CheckReport analyseSettings(std::string_view bytes, bool emptyFile, LineDetail detail) {
    CheckReport report;
    report.encoding = detectEncoding(bytes);
    const std::string decoded = decodeSettingsBytes(bytes);
    const std::string_view text = decoded;
    report.load = readSettingsText(text, 0);
    report.starLookup = findStarIndexInText(text);
    report.starCount = countStars(text);
    std::vector<bool> givenByLine(weatherCatalogue.size(), false);
    std::vector<StarLine> starLines;
    std::vector<std::pair<std::size_t, std::int32_t>> singleStars;  // line number, weather
    std::size_t number = 0;
    forEachSettingsLine(text, [&](std::string_view raw) {
        SettingsLine line = parseSettingsLine(raw);
        ++number;
        const bool usable = line.kind == LineKind::setting && line.verdict == ValueVerdict::valid && line.catalogueIndex >= 0;
        if (usable && line.markCount == 1) {
            report.lastSingleStar = line.catalogueIndex;
            if (singleStars.size() == maxListed) singleStars.pop_back();  // the last one is the loader's star
            singleStars.emplace_back(number, line.catalogueIndex);
        }
        if (usable) givenByLine[static_cast<std::size_t>(line.catalogueIndex)] = true;
        if (line.kind == LineKind::noEquals || (line.kind == LineKind::setting && !usable))
            if (++report.ignoredCount <= maxListed) report.ignoredLines.push_back(number);
        const std::size_t stars = static_cast<std::size_t>(std::count(raw.begin(), raw.end(), '*'));
        if (stars > 0 && starLines.size() < maxListed) starLines.push_back({number, stars, line});
        // A CR before the LF is Notepad's line end, not part of what the player wrote.
        const std::string_view written = !raw.empty() && raw.back() == '\r' ? raw.substr(0, raw.size() - 1) : raw;
        CheckLine shown{lineVerdict(line), written.empty() ? std::string() : printableLine(written)};
        if (detail == LineDetail::runs && !report.lines.empty() && report.lines.back().verdict == shown.verdict &&
            report.lines.back().shown == shown.shown)
            ++report.lines.back().count;
        else
            report.lines.push_back(std::move(shown));
        return true;
    });
    report.lineCount = number;
    report.logLines = report.load.messages;
    report.wouldReplace = report.load.outcome == LoadOutcome::noUsableLine;
    if (report.wouldReplace) {
        if (!emptyFile) report.logLines.push_back("[Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.");
        report.logLines.push_back("[Nubilo] Default Weather.ini written.");
    }

    const SettingsRead& read = report.load.read;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) {
        CheckWeather row;
        row.name = weatherCatalogue[i].displayName;
        row.minutes = read.intervals.at(row.name);
        row.byDefault = !givenByLine[i];
        row.marks = static_cast<int>(std::count(read.markedIndexes.begin(), read.markedIndexes.end(), static_cast<std::int32_t>(i)));
        row.star = report.lastSingleStar == static_cast<std::int32_t>(i);
        report.weathers.push_back(row);
    }
    report.cycle = cycleSummary(report);
    // Outside a custom cycle the weather moves on only through the star's rewrite, which needs
    // exactly one "*" in the whole file (a lone "*" off the setting lines is written onto one).
    report.stuck = !report.wouldReplace && read.markedIndexes.size() < 2 && report.starCount != 1;
    if (report.stuck) report.stuckReason = stuckReason(report, starLines);
    // The loader's star is the last line with one mark; earlier ones only mark their weather.
    const auto lineAt = [&](std::size_t wanted) -> CheckLine& {
        std::size_t first = 1;
        for (CheckLine& entry : report.lines) {
            if (wanted < first + entry.count) return entry;
            first += entry.count;
        }
        return report.lines.back();
    };
    for (std::size_t i = 0; i + 1 < singleStars.size(); ++i) {
        std::string& verdict = lineAt(singleStars[i].first).verdict;
        const std::string carries = "1 mark: carries the star";
        const std::size_t at = verdict.find(carries);
        if (at != std::string::npos)
            verdict.replace(at, carries.size(),
                            "1 mark: marked; the star is the one on line " + std::to_string(singleStars.back().first));
    }
    if (!report.wouldReplace && read.markedIndexes.size() >= 2 && singleStars.size() >= 2) {
        std::vector<std::size_t> numbers;
        std::string names;
        for (std::size_t i = 0; i < singleStars.size(); ++i) {
            numbers.push_back(singleStars[i].first);
            names += i == 0 ? "" : i + 1 == singleStars.size() ? " and " : ", ";
            names += nameOf(singleStars[i].second);
        }
        const std::size_t start = customStartPosition(read.markedIndexes, read.startIndex);
        std::vector<std::size_t> earlier(numbers.begin(), numbers.end() - 1);
        report.warnings.push_back(
            lineList(numbers) + " each carry one star (" + names + "). Marked lines make a custom cycle: " +
            arrowList(read.markedIndexes) + ", starting with " + nameOf(read.markedIndexes[start]) +
            ", not all ten weathers. If you moved the star to " + nameOf(singleStars.back().second) +
            ", remove the star on " + lineList(earlier) + " to run all ten weathers in order from there.");
    }
    const std::int32_t first =
        report.wouldReplace ? defaultStartIndex
        : read.markedIndexes.size() >= 2 ? read.markedIndexes[customStartPosition(read.markedIndexes, read.startIndex)]
                                         : read.startIndex;
    report.firstWeather = nameOf(first);
    report.conclusion =
        report.wouldReplace ? std::string("Not usable: no line has a known key with a valid value. The plug-in ") +
                                  (emptyFile ? "replaces this empty file with defaults."
                                             : "copies it to Nubilo.ini.bak and replaces it with defaults.")
                            : report.stuck ? "Usable, but stuck: the plug-in keeps this file and the weather never changes."
                                           : "Usable: the plug-in keeps this file.";
    return report;
}

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string minutesJson(std::string_view typed) {
    const std::string line = "Set Rain Time = " + std::string(typed);
    const SettingsLine parsed = parseSettingsLine(line);
    if (parsed.verdict != ValueVerdict::valid)
        return "{\"ok\":false,\"reason\":" +
               jsonString(std::string("Nubilo would reject \"") + std::string(typed) + "\": " + rejection(parsed.verdict) +
                          ". Type a whole number of minutes from " + std::to_string(minMinutes) + " to " +
                          std::to_string(maxMinutes) + ".") +
               "}";
    const std::string plain = std::to_string(parsed.minutes);
    const std::string_view trimmed = trimWhitespace(typed);
    const std::string note =
        trimmed == plain ? std::string()
                         : "Nubilo reads \"" + std::string(trimmed) + "\" as " + plain + " minutes.";
    return "{\"ok\":true,\"minutes\":" + plain + ",\"note\":" + jsonString(note) + "}";
}

namespace {

std::string reportJson(const CheckReport& report, bool runs) {
    std::string json = "{\"encoding\":" + jsonString(encodingName(report.encoding));
    json += ",\"lineCount\":" + std::to_string(report.lineCount);
    json += runs ? ",\"lineRuns\":[" : ",\"lines\":[";
    for (std::size_t i = 0; i < report.lines.size(); ++i) {
        json += i ? "," : "";
        json += "{\"verdict\":" + jsonString(report.lines[i].verdict) + ",\"shown\":" + jsonString(report.lines[i].shown);
        if (runs) json += ",\"count\":" + std::to_string(report.lines[i].count);
        json += "}";
    }
    json += "],\"weathers\":[";
    for (std::size_t i = 0; i < report.weathers.size(); ++i) {
        const CheckWeather& row = report.weathers[i];
        json += i ? "," : "";
        json += "{\"name\":" + jsonString(row.name) + ",\"minutes\":" + std::to_string(row.minutes) +
                ",\"byDefault\":" + (row.byDefault ? "true" : "false") + ",\"minutesText\":" +
                jsonString(std::to_string(row.minutes) + (row.byDefault ? " (default)" : "")) +
                ",\"marks\":" + std::to_string(row.marks) +
                ",\"star\":" + (row.star ? "true" : "false") + "}";
    }
    json += "],\"cycle\":" + jsonString(report.cycle);
    json += ",\"stuck\":" + std::string(report.stuck ? "true" : "false");
    json += ",\"stuckReason\":" + jsonString(report.stuckReason);
    json += ",\"warnings\":[";
    for (std::size_t i = 0; i < report.warnings.size(); ++i) {
        json += i ? "," : "";
        json += jsonString(report.warnings[i]);
    }
    // What the page shows above the lines, each sentence whole, in the order shown.
    json += "],\"alerts\":[";
    std::vector<std::string> alerts;
    const auto alert = [&](const char* kind, const std::string& text, const std::string& lines = "") {
        alerts.push_back("{\"kind\":\"" + std::string(kind) + "\",\"text\":" + jsonString(text) +
                         (lines.empty() ? "" : ",\"lines\":[" + lines + "]") + "}");
    };
    if (report.wouldReplace) alert("wouldReplace", "Would be replaced: " + report.conclusion);
    if (!report.ignoredLines.empty()) {
        std::string lines;
        for (std::size_t i = 0; i < report.ignoredLines.size(); ++i) {
            lines += i ? "," : "";
            lines += "{\"number\":" + std::to_string(report.ignoredLines[i]) + ",\"text\":\"line " +
                     std::to_string(report.ignoredLines[i]) + "\"}";
        }
        const std::size_t count = report.ignoredCount;
        alert("ignored", std::to_string(count) + (count == 1 ? " line is ignored: " : " lines are ignored: ") +
                             (count > report.ignoredLines.size() ? "the first " + std::to_string(report.ignoredLines.size()) + ": " : ""),
              lines);
    }
    if (report.stuck) alert("stuck", "Stuck: the weather never changes with this file: " + report.stuckReason);
    for (const std::string& warning : report.warnings) alert("note", "Note: " + warning);
    if (!report.wouldReplace && !report.stuck) alert("ok", "Usable: Nubilo keeps this file and the cycle runs.");
    for (std::size_t i = 0; i < alerts.size(); ++i) {
        json += i ? "," : "";
        json += alerts[i];
    }
    json += "],\"ignoredLines\":[";
    for (std::size_t i = 0; i < report.ignoredLines.size(); ++i) {
        json += i ? "," : "";
        json += std::to_string(report.ignoredLines[i]);
    }
    json += "]";
    json += ",\"wouldReplace\":" + std::string(report.wouldReplace ? "true" : "false");
    json += ",\"log\":[";
    // The page shows a thousand log lines at most; the tool gives them all.
    const std::size_t logShown = runs ? std::min<std::size_t>(report.logLines.size(), 1000) : report.logLines.size();
    for (std::size_t i = 0; i < logShown; ++i) {
        json += i ? "," : "";
        json += jsonString(report.logLines[i]);
    }
    if (logShown < report.logLines.size())
        json += "," + jsonString("... and " + std::to_string(report.logLines.size() - logShown) + " more lines");
    json += report.logLines.empty() ? "" : ",";
    json += jsonString("[Nubilo] Applied weather: " + report.firstWeather);
    json += "],\"conclusion\":" + jsonString(report.conclusion) + "}";
    return json;
}

}  // namespace

std::string checkReportJson(const CheckReport& report) { return reportJson(report, false); }

std::string checkReportRunsJson(const CheckReport& report) { return reportJson(report, true); }

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string path = "Nubilo.ini";
    bool havePath = false;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << checkHelp;
            return exitUsable;
        }
        if (arg == "--json") {
            json = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            err << "nubilo check: unknown option " << arg << " (see nubilo check --help)\n";
            return exitUsage;
        }
        if (havePath) {
            err << "nubilo check: one file at a time, not also " << arg << "\n";
            return exitUsage;
        }
        path = arg;
        havePath = true;
    }

    std::string text;
    errno = 0;
    SettingsEncoding encoding = SettingsEncoding::singleByte;
    FileRead file = readSettingsFile(path, text, &encoding);
    if (!file.opened) {
        err << "nubilo check: cannot read " << path << ": " << std::strerror(errno)
            << (file.notFound ? " (the plug-in would write the default file there)" : "") << "\n";
        return exitUsage;
    }
    if (file.readError) {
        err << "nubilo check: cannot read " << path << " to its end\n";
        return exitUsage;
    }
    CheckReport report = analyseSettings(text, isEmptyFile(path));
    report.encoding = encoding;  // the text came decoded
    if (json) {
        out << checkReportJson(report) << "\n";
        return report.wouldReplace ? exitWouldReplace : exitUsable;
    }

    out << "Checking " << path << " (" << report.lines.size() << (report.lines.size() == 1 ? " line" : " lines")
        << (encoding == SettingsEncoding::utf8Mark ? ", starts with a UTF-8 byte-order mark, skipped"
            : encoding == SettingsEncoding::singleByte ? ""
                                                       : std::string(", ") + encodingName(encoding) + ", read as ASCII")
        << ")\n\n";

    for (std::size_t number = 0; number < report.lines.size(); ++number) {
        out << "line " << number + 1 << ": " << report.lines[number].verdict << "\n";
        if (!report.lines[number].shown.empty()) out << "  | " << report.lines[number].shown << "\n";
    }

    out << "\nWeather       Minutes        Marks  Star\n";
    for (const CheckWeather& row : report.weathers) {
        char line[96];
        std::snprintf(line, sizeof line, "%-13s %-14s %-6s %s", row.name.c_str(),
                      (std::to_string(row.minutes) + (row.byDefault ? " (default)" : "")).c_str(),
                      row.marks ? std::to_string(row.marks).c_str() : "-", row.star ? "*" : "");
        std::string trimmed = line;
        while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
        out << trimmed << "\n";
    }

    out << "\nCycle: " << report.cycle << "\n";
    if (report.stuck) out << "\nStuck: " << report.stuckReason << "\n";
    for (const std::string& warning : report.warnings) out << "\nNote: " << warning << "\n";
    if (!report.ignoredLines.empty()) {
        std::string numbers;
        for (std::size_t i = 0; i < report.ignoredLines.size(); ++i) {
            numbers += i ? ", " : "";
            numbers += std::to_string(report.ignoredLines[i]);
        }
        if (report.ignoredCount > report.ignoredLines.size()) numbers += ", ...";
        out << "\nIgnored: " << report.ignoredCount << (report.ignoredCount == 1 ? " line (" : " lines (")
            << numbers << ")\n";
    }
    out << "\nOn loading this file the plug-in logs:\n";
    for (const std::string& line : report.logLines) out << "  " << line << "\n";
    out << "  [Nubilo] Applied weather: " << report.firstWeather << "\n";
    out << "\n" << report.conclusion << "\n";
    return report.wouldReplace ? exitWouldReplace : exitUsable;
}
