#include "settings/settingsText.h"

#include <algorithm>
#include <limits>

#include "fileAccess/fileAccess.h"

std::string_view trimWhitespace(std::string_view text) {
    std::size_t first = text.find_first_not_of(settingsWhitespace);
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(settingsWhitespace);
    return text.substr(first, last - first + 1);
}

std::int32_t recognisedKeyIndex(std::string_view key) {
    constexpr std::string_view prefix = "Set ";
    constexpr std::string_view suffix = " Time";
    if (key.size() <= prefix.size() + suffix.size()) return -1;
    if (key.substr(0, prefix.size()) != prefix || key.substr(key.size() - suffix.size()) != suffix) return -1;
    std::string_view name = key.substr(prefix.size(), key.size() - prefix.size() - suffix.size());
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i)
        if (name == weatherCatalogue[i].displayName) return static_cast<std::int32_t>(i);
    return -1;
}

namespace {

bool isSettingsWhitespace(char c) { return settingsWhitespace.find(c) != std::string_view::npos; }

// Reads the value part as if every '*' had been removed and the rest trimmed, then converted
// like std::stoi: optional sign, digits, anything after the digits ignored.
ValueVerdict readMinutes(std::string_view valuePart, std::int32_t& minutes) {
    std::size_t i = 0;
    auto skipStars = [&] {
        while (i < valuePart.size() && valuePart[i] == '*') ++i;
    };
    for (skipStars(); i < valuePart.size() && isSettingsWhitespace(valuePart[i]); skipStars()) ++i;
    bool negative = false;
    if (i < valuePart.size() && (valuePart[i] == '+' || valuePart[i] == '-')) {
        negative = valuePart[i] == '-';
        ++i;
        skipStars();
    }
    // The largest magnitude a 32-bit value has (its minimum's); past it the digits are read, not added.
    constexpr std::int64_t largestMagnitude = -std::int64_t{std::numeric_limits<std::int32_t>::min()};
    std::int64_t magnitude = 0;
    bool anyDigit = false, tooBig = false;
    for (; i < valuePart.size() && valuePart[i] >= '0' && valuePart[i] <= '9'; skipStars()) {
        anyDigit = true;
        if (!tooBig) {
            magnitude = magnitude * 10 + (valuePart[i] - '0');
            tooBig = magnitude > largestMagnitude;
        }
        ++i;
    }
    if (!anyDigit) return ValueVerdict::noDigits;
    if (tooBig || (!negative && magnitude > std::numeric_limits<std::int32_t>::max())) return ValueVerdict::beyond32Bits;
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value < minMinutes || value > maxMinutes) return ValueVerdict::outOfRange;
    minutes = static_cast<std::int32_t>(value);
    return ValueVerdict::valid;
}

void startSettingsRead(SettingsRead& read, std::int32_t startIndex) {
    read.intervals = defaultIntervals();
    read.markedIndexes.clear();
    read.startIndex = startIndex;
    read.usableLine = false;
}

// Gathers what one parsed line says into the read; false when the line's value was rejected.
bool gatherSettingsLine(SettingsRead& read, const SettingsLine& line) {
    if (line.kind != LineKind::setting) return true;
    // The value is judged before the key, so an unknown key with a bad value is reported too.
    if (line.verdict != ValueVerdict::valid) return false;
    if (line.catalogueIndex < 0) return true;
    const WeatherEntry& entry = weatherCatalogue[static_cast<std::size_t>(line.catalogueIndex)];
    read.intervals[entry.displayName] = line.minutes;
    if (line.markCount > 0) read.markedIndexes.push_back(line.catalogueIndex);
    if (line.markCount == 1) read.startIndex = line.catalogueIndex;
    read.usableLine = true;
    return true;
}

// Which outcome the read ends in, with that outcome's start-index fallback applied.
LoadOutcome finishSettingsRead(SettingsRead& read) {
    if (!read.usableLine) {
        read.startIndex = defaultStartIndex;
        return LoadOutcome::noUsableLine;
    }
    if (read.markedIndexes.empty()) {
        read.startIndex = defaultStartIndex;
        return LoadOutcome::noMark;
    }
    return read.markedIndexes.size() == 1 ? LoadOutcome::singleMark : LoadOutcome::customCycle;
}

}  // namespace

SettingsEncoding detectEncoding(std::string_view bytes) {
    if (bytes.substr(0, 2) == "\xFF\xFE") return SettingsEncoding::utf16LittleEndian;
    if (bytes.substr(0, 2) == "\xFE\xFF") return SettingsEncoding::utf16BigEndian;
    if (bytes.substr(0, byteOrderMark.size()) == byteOrderMark) return SettingsEncoding::utf8Mark;
    return SettingsEncoding::singleByte;
}

const char* encodingName(SettingsEncoding encoding) {
    switch (encoding) {
        case SettingsEncoding::singleByte: return "ANSI or UTF-8";
        case SettingsEncoding::utf8Mark: return "UTF-8 with byte-order mark";
        case SettingsEncoding::utf16LittleEndian: return "UTF-16 LE with byte-order mark";
        case SettingsEncoding::utf16BigEndian: return "UTF-16 BE with byte-order mark";
    }
    return "unknown";
}

namespace {

// Each code unit of a UTF-16 file one byte; `little` by its byte-order mark, which is skipped.
std::string narrowUtf16(std::string_view bytes, bool little) {
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t at = 2; at < bytes.size(); at += 2) {
        if (at + 1 == bytes.size()) {
            text += unmatchedByte;  // half a code unit: the file was cut
            break;
        }
        const auto first = static_cast<unsigned char>(bytes[at]), second = static_cast<unsigned char>(bytes[at + 1]);
        const unsigned unit = little ? (second << 8 | first) : (first << 8 | second);
        if (unit <= 0x7F) {
            text += static_cast<char>(unit);
            continue;
        }
        // A high surrogate followed by a low one is one character.
        if (unit >= 0xD800 && unit <= 0xDBFF && at + 3 < bytes.size()) {
            const auto a = static_cast<unsigned char>(bytes[at + 2]), b = static_cast<unsigned char>(bytes[at + 3]);
            const unsigned next = little ? (b << 8 | a) : (a << 8 | b);
            if (next >= 0xDC00 && next <= 0xDFFF) at += 2;
        }
        text += unmatchedByte;
    }
    return text;
}

}  // namespace

std::string settingsTextOf(std::string_view bytes) {
    const SettingsEncoding encoding = detectEncoding(bytes);
    std::string text;
    if (encoding == SettingsEncoding::utf16LittleEndian || encoding == SettingsEncoding::utf16BigEndian) {
        // Read whole: text mode's Ctrl-Z would end the text at any 0x1A byte of a code unit.
        text = narrowUtf16(bytes, encoding == SettingsEncoding::utf16LittleEndian);
        applyTextLineEnds(text);
    } else {
        text = std::string(bytes);
        applyTextMode(text);
    }
    return text;
}

IntervalMap defaultIntervals() {
    IntervalMap intervals;
    for (const WeatherEntry& entry : weatherCatalogue) intervals[entry.displayName] = defaultMinutes;
    return intervals;
}

std::size_t customStartPosition(const std::vector<std::int32_t>& customCycle, std::int32_t startIndex) {
    for (std::size_t i = 0; i < customCycle.size(); ++i)
        if (customCycle[i] == startIndex) return i;
    return 0;
}

SettingsLine parseSettingsLine(std::string_view line) {
    SettingsLine parsed;
    parsed.starsOnLine = static_cast<std::size_t>(std::count(line.begin(), line.end(), '*'));
    if (line.empty()) return parsed;
    if (line[0] == ';') {
        parsed.kind = LineKind::comment;
        return parsed;
    }
    if (line[0] == '[') {
        parsed.kind = LineKind::section;
        return parsed;
    }
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        parsed.kind = LineKind::noEquals;
        return parsed;
    }
    parsed.kind = LineKind::setting;
    parsed.key = trimWhitespace(line.substr(0, equals));
    std::string_view valuePart = line.substr(equals + 1);
    valuePart = valuePart.substr(0, valuePart.find(';'));
    parsed.markCount = static_cast<int>(std::count(valuePart.begin(), valuePart.end(), '*'));
    parsed.verdict = readMinutes(valuePart, parsed.minutes);
    parsed.catalogueIndex = recognisedKeyIndex(parsed.key);
    return parsed;
}

std::string invalidValueMessage(std::string_view key) {
    std::string message = "[Nubilo] Invalid value for key ";
    message.append(key);
    message += ", using default.";
    return message;
}

std::string outcomeMessage(LoadOutcome outcome, std::int32_t startIndex) {
    switch (outcome) {
        case LoadOutcome::noUsableLine: return {};
        case LoadOutcome::noMark: return "[Nubilo] No custom cycle marked. Starting from Clear.";
        case LoadOutcome::singleMark: return "[Nubilo] single index at " + std::to_string(startIndex) + ".";
        case LoadOutcome::customCycle: return "[Nubilo] Custom weather cycle detected.";
    }
    return {};
}

LoadReport readSettingsText(std::string_view text, std::int32_t startIndex, const LineObserver& observe) {
    LoadReport report;
    startSettingsRead(report.read, startIndex);
    forEachSettingsLine(text, [&](std::string_view line) {
        SettingsLine parsed = parseSettingsLine(line);
        if (!gatherSettingsLine(report.read, parsed)) report.messages.push_back(invalidValueMessage(parsed.key));
        if (observe) observe(line, parsed);
        return true;
    });
    report.outcome = finishSettingsRead(report.read);
    if (report.outcome != LoadOutcome::noUsableLine)
        report.messages.push_back(outcomeMessage(report.outcome, report.read.startIndex));
    return report;
}

std::int32_t firstWeatherIndex(const std::vector<std::int32_t>& markedIndexes, std::int32_t startIndex) {
    if (markedIndexes.size() < 2) return startIndex;
    return markedIndexes[customStartPosition(markedIndexes, startIndex)];
}

bool gatherStarLine(StarLookup& lookup, const SettingsLine& line) {
    if (lookup.ambiguous) return false;
    if (line.kind != LineKind::setting || line.catalogueIndex < 0 || line.starsOnLine == 0) return true;
    lookup.ambiguous = lookup.found != -1;  // a second starred line settles it: none
    lookup.found = line.catalogueIndex;
    return !lookup.ambiguous;
}

std::int32_t starLookupResult(const StarLookup& lookup) { return lookup.ambiguous ? -1 : lookup.found; }

std::int32_t findStarIndexInText(std::string_view text) {
    StarLookup lookup;
    forEachSettingsLine(text, [&](std::string_view line) { return gatherStarLine(lookup, parseSettingsLine(line)); });
    return starLookupResult(lookup);
}

std::size_t countStars(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '*'));
}

const std::string minutesComment =
    " ; int required. Max: " + std::to_string(maxMinutes) + ", Min: " + std::to_string(minMinutes);

std::string canonicalSettingsText(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers,
                                  std::int32_t starIndex) {
    std::string text = "[Settings]\n";
    for (std::size_t i = 0; i < weathers.size(); ++i) {
        auto found = intervals.find(weathers[i].displayName);
        std::int32_t minutes = found == intervals.end() ? defaultMinutes : found->second;
        text += "Set ";
        text += weathers[i].displayName;
        text += " Time = ";
        text += std::to_string(minutes);
        if (static_cast<std::int32_t>(i) == starIndex) text += '*';
        text += minutesComment;
        text += '\n';
    }
    return text;
}
