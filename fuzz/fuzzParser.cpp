// The settings parser on arbitrary text, against a plain second reading of the star rules.
#include <algorithm>

#include "fuzzSupport.h"
#include "settings/settingsText.h"

namespace {

// The star lookup told plainly: setting lines whose trimmed key is one of the ten, with a '*'
// anywhere on them; one such line gives its index, any other number gives -1.
std::int32_t plainStarLookup(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::int32_t> starred;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '[') continue;
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        const char* blanks = " \t\n\r\f\v";
        key.erase(0, key.find_first_not_of(blanks) == std::string::npos ? key.size() : key.find_first_not_of(blanks));
        key.erase(key.find_last_not_of(blanks) + 1);
        for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) {
            if (key == "Set " + weatherCatalogue[i].displayName + " Time") {
                if (std::count(line.begin(), line.end(), '*') > 0) starred.push_back(static_cast<std::int32_t>(i));
                break;
            }
        }
    }
    return starred.size() == 1 ? starred[0] : -1;
}

std::string withoutCrs(std::string_view text) {
    std::string kept(text);
    std::erase(kept, '\r');
    return kept;
}

std::ptrdiff_t countCrLf(std::string_view text) {
    std::ptrdiff_t pairs = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2)) ++pairs;
    return pairs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const LoadReport report = readSettingsText(text, 0);
    requireSaneIntervals(report.read.intervals);
    FUZZ_REQUIRE(isCatalogueIndex(report.read.startIndex));
    for (std::int32_t index : report.read.markedIndexes) FUZZ_REQUIRE(isCatalogueIndex(index));
    FUZZ_REQUIRE(report.read.usableLine == (report.outcome != LoadOutcome::noUsableLine));
    FUZZ_REQUIRE(report.outcome != LoadOutcome::noUsableLine || report.read.markedIndexes.empty());
    FUZZ_REQUIRE(report.outcome != LoadOutcome::customCycle || report.read.markedIndexes.size() >= 2);

    FUZZ_REQUIRE(findStarIndexInText(text) == plainStarLookup(text));

    // A UTF-16 file comes down to at most one byte a code unit, each ASCII or the unmatched byte.
    // Any other file ends before its first Ctrl-Z and loses only CRs, each one from before a LF.
    const std::string decoded = settingsTextOf(text);
    const SettingsEncoding encoding = detectEncoding(text);
    if (encoding == SettingsEncoding::utf16LittleEndian || encoding == SettingsEncoding::utf16BigEndian) {
        FUZZ_REQUIRE(decoded.size() <= (size - 2 + 1) / 2);
        for (char c : decoded) FUZZ_REQUIRE(static_cast<unsigned char>(c) <= 0x7F || c == unmatchedByte);
    } else {
        const std::string_view kept = text.substr(0, text.find('\x1A'));
        FUZZ_REQUIRE(decoded.find('\x1A') == std::string::npos);
        FUZZ_REQUIRE(withoutCrs(decoded) == withoutCrs(kept));
        FUZZ_REQUIRE(std::count(decoded.begin(), decoded.end(), '\r') ==
                     std::count(kept.begin(), kept.end(), '\r') - countCrLf(kept));
    }
    FUZZ_REQUIRE(countStars(text) == static_cast<std::size_t>(std::count(text.begin(), text.end(), '*')));

    // Every line on its own: marks are stars before the comment, minutes only when valid.
    forEachSettingsLine(text, [](std::string_view line) {
        const SettingsLine parsed = parseSettingsLine(line);
        FUZZ_REQUIRE(parsed.markCount >= 0 && static_cast<std::size_t>(parsed.markCount) <= parsed.starsOnLine);
        if (parsed.verdict == ValueVerdict::valid && parsed.kind == LineKind::setting)
            FUZZ_REQUIRE(parsed.minutes >= 1 && parsed.minutes <= 1440);
        FUZZ_REQUIRE(parsed.catalogueIndex == -1 || isCatalogueIndex(parsed.catalogueIndex));
        return true;
    });
    return 0;
}
