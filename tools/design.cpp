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

    // Anything else is a custom cycle: its marked lines in the order given, the start alone
    // carrying one star. Where the start's weather also stands earlier in the order, the plug-in
    // would start at that earlier line: the lines then begin at the start instead (the same ring).
    // One weather alone is marked twice, since a custom cycle needs two lines.
    std::vector<std::int32_t> ring = design.order;
    std::size_t starLine = design.start;
    if (customStartPosition(design.order, design.order[design.start]) != design.start) {
        ring.clear();
        for (std::size_t i = 0; i < design.order.size(); ++i) ring.push_back(design.order[(design.start + i) % design.order.size()]);
        starLine = 0;
    }
    if (ring.size() == 1) ring.push_back(ring.front());
    std::string text = "[Settings]\n; A custom cycle made with Nubilo Designer: the marked lines run in this order, from\n"
                       "; the one with one mark. The file is not rewritten while the game runs.\n";
    std::vector<bool> inCycle(weatherCatalogue.size(), false);
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const auto index = static_cast<std::size_t>(ring[i]);
        inCycle[index] = true;
        text += settingsKey(weatherCatalogue[index]) + " = " + std::to_string(design.minutes[index]) + (i == starLine ? "*" : "**") +
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

namespace {

// The integers of `"name":[a,b,...]` (or of `"name":n` when `single`), nothing else tolerated.
bool readNumbers(std::string_view json, std::string_view name, bool single, std::vector<long>& numbers) {
    std::string key = "\"";
    key += name;
    key += "\":";
    const std::size_t at = json.find(key);
    if (at == std::string_view::npos) return false;
    std::size_t i = at + key.size();
    if (!single && (i >= json.size() || json[i++] != '[')) return false;
    numbers.clear();
    for (;;) {
        if (!single && i < json.size() && json[i] == ']' && numbers.empty()) return true;
        std::size_t digits = 0;
        long value = 0;
        while (i < json.size() && json[i] >= '0' && json[i] <= '9' && digits < 6) {
            value = value * 10 + (json[i++] - '0');
            ++digits;
        }
        if (digits == 0 || (i < json.size() && json[i] >= '0' && json[i] <= '9')) return false;
        numbers.push_back(value);
        if (single) return true;
        if (i < json.size() && json[i] == ',') {
            ++i;
            continue;
        }
        return i < json.size() && json[i] == ']';
    }
}

}  // namespace

bool parseDesignJson(std::string_view json, Design& design) {
    std::vector<long> order, start, minutes;
    if (!readNumbers(json, "order", false, order) || !readNumbers(json, "start", true, start) ||
        !readNumbers(json, "minutes", false, minutes))
        return false;
    if (order.empty() || minutes.size() != weatherCatalogue.size() || static_cast<std::size_t>(start[0]) >= order.size())
        return false;
    Design read;
    for (long index : order) {
        if (index >= static_cast<long>(weatherCatalogue.size())) return false;
        read.order.push_back(static_cast<std::int32_t>(index));
    }
    for (long value : minutes) {
        if (value < minMinutes || value > maxMinutes) return false;
        read.minutes.push_back(static_cast<std::int32_t>(value));
    }
    read.start = static_cast<std::size_t>(start[0]);
    design = read;
    return true;
}

std::string designDescription(const Design& design) {
    if (isCatalogueRing(design))
        return "All ten in Nubilo's own order: the file has one star, which Nubilo moves as the cycle goes on, so after "
               "a restart the cycle resumes where it stood.";
    std::string text = "A custom cycle: the marked lines run in this order. Nubilo keeps its place in memory only; after a "
                       "restart it begins again with the start weather.";
    if (design.order.size() == 1)
        text += " One weather alone is written twice, since a custom cycle needs two lines: it stays all the time.";
    return text;
}

std::string designerFactsJson() {
    std::string json = "{\"weathers\":[";
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) {
        json += i ? "," : "";
        json += jsonString(weatherCatalogue[i].displayName);
    }
    json += "],\"minMinutes\":" + std::to_string(minMinutes) + ",\"maxMinutes\":" + std::to_string(maxMinutes);
    json += ",\"defaultDesign\":" + designJson(defaultDesign());
    json += ",\"lastWeather\":" + jsonString("A cycle needs one weather at least: add another before you remove this one.");
    return json + "}";
}
