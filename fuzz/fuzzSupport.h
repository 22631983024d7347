#pragma once
// What the fuzz targets share: a private game folder, and the properties every load must have.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "settings/catalogue.h"

// Stops the run with a finding when a property does not hold.
#define FUZZ_REQUIRE(condition)                                                          \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

// The folder goes when the run ends normally; a finding (abort) leaves it for a look.
inline std::string privateFolder;

inline void leavePrivateFolder() {
    std::error_code ignored;
    std::filesystem::current_path(std::filesystem::temp_directory_path(ignored), ignored);
    std::filesystem::remove_all(privateFolder, ignored);
}

inline void enterPrivateFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nubilo-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    privateFolder = pattern;
    std::filesystem::current_path(pattern);
    std::atexit(leavePrivateFolder);
}

inline std::string readBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeBytes(const char* path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool isCatalogueIndex(std::int32_t index) { return index >= 0 && index < 10; }

// The interval map holds the ten display names, each with 1..1440 minutes.
inline void requireSaneIntervals(const IntervalMap& intervals) {
    FUZZ_REQUIRE(intervals.size() == weatherCatalogue.size());
    for (const WeatherEntry& entry : weatherCatalogue) {
        auto found = intervals.find(entry.displayName);
        FUZZ_REQUIRE(found != intervals.end());
        FUZZ_REQUIRE(found->second >= 1 && found->second <= 1440);
    }
}
