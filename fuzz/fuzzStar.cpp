// The star lookup, the validation and the rewrite on a file of arbitrary bytes: the rewrite
// happens exactly when the file holds one '*', and then parses back to the same minutes with
// the one star where it was put.
#include <algorithm>

#include "cycle/advance.h"
#include "fileAccess/fileAccess.h"
#include "fuzzSupport.h"
#include "settings/settingsText.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterPrivateFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks where the star goes; the rest is the file.
    const std::int32_t position = data[0] % 10;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    writeBytes("Nubilo.ini", bytes);
    // The loop has loaded this very file: the rewrite may replace it.
    std::string loadedBytes;
    const FileIdentity seen = readWholeFile("Nubilo.ini", loadedBytes, true).identity;
    const std::string decoded = settingsTextOf(bytes);  // as the plug-in reads it
    const std::string_view original = decoded;

    StarStep step;
    step.expected = seen;
    const std::int32_t star = findStarIndex(step);
    FUZZ_REQUIRE(star == -1 || isCatalogueIndex(star));
    FUZZ_REQUIRE(star == findStarIndexInText(original));
    const bool valid = validateSettings(step);
    FUZZ_REQUIRE(valid == (std::count(original.begin(), original.end(), '*') == 1));
    FUZZ_REQUIRE(step.messages.empty());

    const LoadReport loaded = readSettingsText(original, 0);
    step.position = position;
    updateSettingsStar(loaded.read.intervals, weatherCatalogue, step);
    FUZZ_REQUIRE(step.attempted == valid);
    FUZZ_REQUIRE(!valid || step.outcome == ReplaceOutcome::written);
    const std::string after = readBytes("Nubilo.ini");
    if (!valid) {
        FUZZ_REQUIRE(after == bytes);
        return 0;
    }
    const LoadReport back = readSettingsText(after, 0);
    FUZZ_REQUIRE(back.read.intervals == loaded.read.intervals);
    FUZZ_REQUIRE(back.read.markedIndexes == std::vector<std::int32_t>{position});
    FUZZ_REQUIRE(back.read.startIndex == position);
    FUZZ_REQUIRE(findStarIndexInText(after) == position);
    FUZZ_REQUIRE(countStars(after) == 1);
    FUZZ_REQUIRE(!std::filesystem::exists(temporaryPath("Nubilo.ini")));
    return 0;
}
