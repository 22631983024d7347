// loadSettings end to end on a file of arbitrary bytes: sane results, and the file is either
// left alone or replaced by the default content with the original kept in the backup.
#include "fuzzSupport.h"
#include "settings/settingsFile.h"
#include "settings/settingsText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterPrivateFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view original(reinterpret_cast<const char*>(data), size);
    std::filesystem::remove("Nubilo.ini.bak");
    std::filesystem::remove("Weather.txt");
    writeBytes("Nubilo.ini", original);

    std::int32_t startIndex = 0;
    std::vector<std::int32_t> marked;
    const IntervalMap intervals = loadSettings(startIndex, marked);
    requireSaneIntervals(intervals);
    FUZZ_REQUIRE(isCatalogueIndex(startIndex));
    for (std::int32_t index : marked) FUZZ_REQUIRE(isCatalogueIndex(index));

    const std::string after = readBytes("Nubilo.ini");
    const bool replaced = readSettingsText(settingsTextOf(original), 0).outcome == LoadOutcome::noUsableLine;
    if (replaced) {
        IntervalMap defaults;
        for (const WeatherEntry& entry : weatherCatalogue) defaults[entry.displayName] = 30;
        FUZZ_REQUIRE(after == canonicalSettingsText(defaults, weatherCatalogue, 5));
        FUZZ_REQUIRE(intervals == defaults && startIndex == 5 && marked.empty());
        if (!original.empty()) FUZZ_REQUIRE(readBytes("Nubilo.ini.bak") == original);
        if (original.empty()) FUZZ_REQUIRE(!std::filesystem::exists("Nubilo.ini.bak"));
    } else {
        FUZZ_REQUIRE(after == original);
        FUZZ_REQUIRE(!std::filesystem::exists("Nubilo.ini.bak"));
    }
    FUZZ_REQUIRE(!std::filesystem::exists("Nubilo.ini.nubilo-tmp"));
    return 0;
}
