#pragma once
// What the Linux and the Windows editor races share: their bounds, and the saves they make and
// recognise.
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/catalogue.h"
#include "settings/settingsText.h"

inline long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0) ? value : fallback;
}

// Save i: unique minutes for Rain and Thunder, every other weather at 1440 so that nothing is due
// by the clock alone; the star on Clear, as a player keeps it.
inline std::string saveText(long i) {
    std::vector<int> minutes(weatherCatalogue.size(), maxMinutes);
    minutes[0] = static_cast<int>(1 + i % maxMinutes);
    minutes[1] = static_cast<int>(1 + i / maxMinutes);
    IntervalMap intervals;
    for (std::size_t w = 0; w < weatherCatalogue.size(); ++w) intervals[weatherCatalogue[w].displayName] = minutes[w];
    return "; saved by the race test\n" + canonicalSettingsText(intervals, weatherCatalogue, defaultStartIndex);
}

// Which save a text carries, -1 for none (defaults, a fragment).
inline long saveOf(const std::string& text) {
    const LoadReport report = readSettingsText(text, 0);
    if (report.outcome == LoadOutcome::noUsableLine) return -1;
    const long rain = report.read.intervals.at("Rain"), thunder = report.read.intervals.at("Thunder");
    if (report.read.intervals.at("Clear") != maxMinutes) return -1;
    return (thunder - 1) * maxMinutes + (rain - 1);
}
