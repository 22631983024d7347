// Cycles designed without the file's grammar: the settings text that makes the plug-in run a
// given cycle, and the design the plug-in makes of a given file.
#include "nubiloTool.h"

namespace {

// The order, read from its start, is the catalogue's with every weather once.
bool isCatalogueRing(const Design& design) {
    const std::size_t count = weatherCatalogue.size();
    if (design.order.size() != count || design.start >= count) return false;
    const std::int32_t first = design.order[design.start];
    for (std::size_t i = 0; i < count; ++i)
        if (design.order[(design.start + i) % count] != static_cast<std::int32_t>((first + i) % count)) return false;
    return true;
}

}  // namespace

Design defaultDesign() {
    Design design;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) design.order.push_back(static_cast<std::int32_t>(i));
    design.start = defaultStartIndex;
    design.minutes.assign(weatherCatalogue.size(), defaultMinutes);
    return design;
}

std::string designedSettingsText(const Design& design) {
    if (design.order.empty() || design.start >= design.order.size() || design.minutes.size() != weatherCatalogue.size())
        return {};
    IntervalMap intervals;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) intervals[weatherCatalogue[i].displayName] = design.minutes[i];
    // All ten in catalogue order: the plug-in's own layout, whose single star moves as the cycle
    // goes on, so a restart resumes where it stood.
    if (isCatalogueRing(design)) return canonicalSettingsText(intervals, weatherCatalogue, design.order[design.start]);

    // Anything else is a custom cycle: its marked lines in order, from the start, which alone
    // carries one star. One weather alone is marked twice, since a custom cycle needs two lines.
    std::vector<std::int32_t> ring;
    for (std::size_t i = 0; i < design.order.size(); ++i) ring.push_back(design.order[(design.start + i) % design.order.size()]);
    if (ring.size() == 1) ring.push_back(ring.front());
    std::string text = "[Settings]\n; A custom cycle made with Nubilo Designer: the marked lines run in this order, the\n"
                       "; first one (one mark) first. The file is not rewritten while the game runs.\n";
    std::vector<bool> inCycle(weatherCatalogue.size(), false);
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const auto index = static_cast<std::size_t>(ring[i]);
        inCycle[index] = true;
        text += settingsKey(weatherCatalogue[index]) + " = " + std::to_string(design.minutes[index]) + (i == 0 ? "*" : "**") +
                " ; int required. Max: 1440, Min: 1\n";
    }
    std::string others;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i)
        if (!inCycle[i])
            others += settingsKey(weatherCatalogue[i]) + " = " + std::to_string(design.minutes[i]) +
                      " ; int required. Max: 1440, Min: 1\n";
    if (!others.empty()) text += "; Not in the cycle, kept for their minutes:\n" + others;
    return text;
}

Design designOf(const CheckReport& report) {
    if (report.wouldReplace) return defaultDesign();
    Design design;
    const SettingsRead& read = report.load.read;
    for (const WeatherEntry& entry : weatherCatalogue) design.minutes.push_back(read.intervals.at(entry.displayName));
    if (read.markedIndexes.size() >= 2) {
        design.order = read.markedIndexes;
        design.start = customStartPosition(read.markedIndexes, read.startIndex);
    } else {
        for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) design.order.push_back(static_cast<std::int32_t>(i));
        design.start = static_cast<std::size_t>(read.startIndex);
    }
    return design;
}

std::string designJson(const Design& design) {
    std::string json = "{\"order\":[";
    for (std::size_t i = 0; i < design.order.size(); ++i) {
        json += i ? "," : "";
        json += std::to_string(design.order[i]);
    }
    json += "],\"start\":" + std::to_string(design.start) + ",\"minutes\":[";
    for (std::size_t i = 0; i < design.minutes.size(); ++i) {
        json += i ? "," : "";
        json += std::to_string(design.minutes[i]);
    }
    return json + "]}";
}
