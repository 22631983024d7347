#pragma once
// The settings text parser. It works on text only: no files, no log. The loader, the star
// lookup, the validation and the `nubilo check` tool all read the file through it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/catalogue.h"

enum class LineKind {
    empty,     // no characters at all
    comment,   // first character ';'
    section,   // first character '['
    noEquals,  // anything else without '='
    setting,   // anything else with '='
};

enum class ValueVerdict {
    valid,         // a whole number 1..1440
    noDigits,      // no leading digits after the optional sign
    outOfRange,    // a 32-bit number outside 1..1440
    beyond32Bits,  // more than a signed 32-bit number holds
};

// What one line of the settings file says. The views point into the line given to the parser.
struct SettingsLine {
    LineKind kind = LineKind::empty;
    std::string_view key;        // trimmed text before the first '='
    ValueVerdict verdict = ValueVerdict::noDigits;
    std::int32_t minutes = 0;         // meaningful when verdict is valid
    int markCount = 0;                // '*' in the value part before the inline comment
    std::int32_t catalogueIndex = -1; // recognised key, whatever the value; -1 for none
    std::size_t starsOnLine = 0;      // every '*' on the line, comment included
};

// The whitespace that key and value are trimmed of.
constexpr std::string_view settingsWhitespace = " \t\n\r\f\v";

std::string_view trimWhitespace(std::string_view text);

// Catalogue index whose key equals `key` exactly, or -1.
std::int32_t recognisedKeyIndex(std::string_view key);

SettingsLine parseSettingsLine(std::string_view line);

// The UTF-8 byte-order mark that Windows editors put at the start of a file.
constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

// How the file's bytes were written. The text of a settings file is plain ASCII in any of them.
enum class SettingsEncoding {
    singleByte,   // ANSI or UTF-8 without a mark
    utf8Mark,     // UTF-8 with its byte-order mark (skipped by the line reader)
    utf16LittleEndian,  // FF FE, as Notepad's "Unicode" and PowerShell 5.1's ">" write
    utf16BigEndian,     // FE FF
};

SettingsEncoding detectEncoding(std::string_view bytes);

// "UTF-16 LE with byte-order mark" and the like, for the tools.
const char* encodingName(SettingsEncoding encoding);

// What a code unit beyond ASCII becomes when UTF-16 is taken down to single bytes: a byte that
// is part of no key, digit or mark, so such a line reads as it would in any other encoding.
constexpr char unmatchedByte = '\x80';

// A settings file's bytes as the single-byte text the plug-in reads, on every platform; the
// loader, `check` and the designer page all read through this, once. A UTF-16 file (by its
// byte-order mark): each code unit one byte, a surrogate pair one unmatched byte, a lone last
// byte one unmatched byte, CR LF made LF. Any other file as Windows text mode reads it: a Ctrl-Z
// ends the text, CR LF becomes LF (applyTextMode).
std::string settingsTextOf(std::string_view bytes);

// Calls fn(line) for each line of a whole file's text: lines end at '\n', a last line without
// one counts, a byte-order mark at the very start is skipped. fn returns false to stop early.
template <typename LineFn>
void forEachSettingsLine(std::string_view text, LineFn&& fn) {
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark) text.remove_prefix(byteOrderMark.size());
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!fn(line)) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

// What the loader gathers from the lines, in file order.
struct SettingsRead {
    IntervalMap intervals;                  // all ten display names, 30 unless a valid line said otherwise
    std::vector<std::int32_t> markedIndexes;
    std::int32_t startIndex = 0;            // as the caller passed it, until a single-star line sets it
    bool usableLine = false;                // a recognised key with a valid value was seen
};

enum class LoadOutcome { noUsableLine, noMark, singleMark, customCycle };

// Every weather at the default 30 minutes.
IntervalMap defaultIntervals();

// Where a custom cycle starts: the first position holding the start index, else 0.
std::size_t customStartPosition(const std::vector<std::int32_t>& customCycle, std::int32_t startIndex);

std::string invalidValueMessage(std::string_view key);

// The loader's closing log line for an outcome with a usable line; empty for noUsableLine.
std::string outcomeMessage(LoadOutcome outcome, std::int32_t startIndex);

// Everything the loader learns from a text, with the log lines it writes about it in order
// (rejected values, then the outcome's line). For noUsableLine the loader goes on to replace
// the file, and its own lines follow.
struct LoadReport {
    SettingsRead read;
    LoadOutcome outcome = LoadOutcome::noUsableLine;
    std::vector<std::string> messages;
};

// Hands each line, with what the parser made of it, to `observe` as the loader takes it, so a
// tool that reports on every line reads the text once.
using LineObserver = std::function<void(std::string_view raw, const SettingsLine& parsed)>;

LoadReport readSettingsText(std::string_view text, std::int32_t startIndex, const LineObserver& observe = {});

// The weather a load applies first: a custom cycle's start (two marks or more), else the start index.
std::int32_t firstWeatherIndex(const std::vector<std::int32_t>& markedIndexes, std::int32_t startIndex);

// The star lookup: the catalogue index of the one setting line with a recognised key and a '*'
// anywhere on it, -1 for none or for two and more.
std::int32_t findStarIndexInText(std::string_view text);

// The lookup line by line: gatherStarLine is fed the parsed lines in order and returns false once
// the answer is settled (a second starred line: none).
struct StarLookup {
    std::int32_t found = -1;
    bool ambiguous = false;
};
bool gatherStarLine(StarLookup& lookup, const SettingsLine& line);
std::int32_t starLookupResult(const StarLookup& lookup);

// Every '*' in the text, on lines of every kind.
std::size_t countStars(std::string_view text);

// The star's rewrite touches only a file with exactly one '*' anywhere in it: with more, which
// one the player means is a guess.
constexpr bool starIsMovable(std::size_t starsInFile) { return starsInFile == 1; }

// What every setting line of a written file says of its value: " ; int required. Max: 1440, Min: 1".
extern const std::string minutesComment;

// The canonical layout, with '\n' line ends (text mode makes them CR LF on Windows).
std::string canonicalSettingsText(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers,
                                  std::int32_t starIndex);
