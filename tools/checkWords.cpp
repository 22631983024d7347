// The words of `nubilo check` for one line: its verdict, the key shown so that no look-alike
// passes for the real one, the line itself escaped. Made once from the analysis' facts.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "check.h"

namespace {

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

// The ASCII names of the control bytes, so that none passes through a key unseen.
constexpr std::array<const char*, 32> controlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "tab", "LF",  "VT",  "FF", "CR", "SO", "SI",
    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS", "GS", "RS", "US"};

std::string named(const std::string& name) { return "\u27E8" + name + "\u27E9"; }

// A character beyond ASCII at key[i]: its name, and how many bytes it took.
std::string nonAsciiName(std::string_view key, std::size_t i, std::size_t& taken) {
    const auto byte = static_cast<unsigned char>(key[i]);
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    std::uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
    bool whole = length > 1 && i + length <= key.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
        const auto next = static_cast<unsigned char>(key[i + k]);
        whole = (next & 0xC0) == 0x80;
        code = (code << 6) | (next & 0x3F);
    }
    taken = whole ? length : 1;
    char name[40];
    if (!whole)
        std::snprintf(name, sizeof name, "byte %02X", byte);  // a stray byte of another encoding
    else if (code == 0xA0)
        std::snprintf(name, sizeof name, "no-break space");
    else
        std::snprintf(name, sizeof name, "non-ASCII U+%04X", static_cast<unsigned>(code));
    return named(name);
}

// A key as the player can tell it from the real one: control bytes, DEL, runs of blanks,
// no-break spaces and every other character beyond ASCII named (bidi controls and other
// invisible format characters among them), so that no look-alike shows as the key it imitates.
std::string visibleKey(std::string_view key) {
    std::string shown;
    for (std::size_t i = 0; i < key.size();) {
        const auto byte = static_cast<unsigned char>(key[i]);
        std::size_t taken = 1;
        if (byte == ' ') {
            while (i + taken < key.size() && key[i + taken] == ' ') ++taken;
            shown += taken == 1 ? " " : named(std::to_string(taken) + " spaces");
        } else if (byte < controlNames.size()) {
            shown += named(controlNames[byte]);
        } else if (byte == 0x7F) {
            shown += named("DEL");
        } else if (byte < 0x80) {
            shown += static_cast<char>(byte);
        } else {
            shown += nonAsciiName(key, i, taken);
        }
        i += taken;
    }
    return shown;
}

std::string marksText(int count) { return std::to_string(count) + (count == 1 ? " mark" : " marks"); }

bool carriesLoaderStar(const CheckReport& report, const CheckLine& line) {
    return !report.singleStars.empty() && report.singleStars.back().number == line.number;
}

std::string settingVerdict(const CheckReport& report, const CheckLine& line) {
    std::string verdict = "setting " + weatherName(line.weather) + " = " + std::to_string(line.minutes) + " minutes";
    if (line.marks == 1)
        verdict += carriesLoaderStar(report, line)
                       ? "; 1 mark: carries the star"
                       : "; 1 mark: marked; the star is the one on line " + std::to_string(report.singleStars.back().number);
    if (line.marks > 1) verdict += "; " + std::to_string(line.marks) + " marks: marked, no star";
    return verdict;
}

std::string keyVerdict(const CheckReport& report, const CheckLine& line) {
    const std::string key = visibleKey(line.key);
    if (line.value != ValueVerdict::valid)
        return "rejected value for \"" + key + "\": " + valueRejection(line.value) + "; the line" +
               (line.marks > 0 ? " and its " + marksText(line.marks) + " count" : " counts") + " for nothing";
    if (line.weather < 0)
        return "unknown key \"" + key + "\", ignored" + (line.marks > 0 ? " with its " + marksText(line.marks) : "");
    return settingVerdict(report, line);
}

}  // namespace

const std::string& weatherName(std::int32_t index) { return weatherCatalogue[static_cast<std::size_t>(index)].displayName; }

const char* valueRejection(ValueVerdict verdict) {
    switch (verdict) {
        case ValueVerdict::noDigits: return "no digits";
        case ValueVerdict::outOfRange: return "out of 1..1440";
        case ValueVerdict::beyond32Bits: return "beyond 32 bits";
        case ValueVerdict::valid: break;
    }
    return "valid";
}

std::string lineVerdict(const CheckReport& report, const CheckLine& line) {
    switch (line.kind) {
        case LineKind::empty: return "empty";
        case LineKind::comment: return "comment";
        case LineKind::section: return "section header (ignored, whatever follows on the line)";
        case LineKind::noEquals: return "ignored: no \"=\"";
        case LineKind::setting: break;
    }
    std::string verdict = keyVerdict(report, line);
    if (line.weather < 0) {
        const std::string meant = suggestKey(line.key);
        if (!meant.empty()) verdict += " (did you mean \"" + meant + "\"?)";
    }
    if (line.starSeen) verdict += "; star lookup sees a \"*\"";
    return verdict;
}

std::string minutesText(const CheckWeather& row) { return std::to_string(row.minutes) + (row.byDefault ? " (default)" : ""); }

std::string suggestKey(std::string_view key) {
    const std::string wanted = lowerCollapsed(key);
    std::string best;
    std::size_t bestDistance = 3;  // two letters off at most: further is another word
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
