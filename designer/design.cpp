// Cycles designed without the file's grammar: the settings text that makes the plug-in run a
// given cycle, the design the plug-in makes of a given file, and the edits of a design's order.
#include "design.h"
#include "json.h"

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
                minutesComment + "\n";
    }
    std::string others;
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i)
        if (!inCycle[i])
            others += settingsKey(weatherCatalogue[i]) + " = " + std::to_string(design.minutes[i]) + minutesComment + "\n";
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

namespace {

void jsonNumbers(JsonText& json, const char* key, const std::vector<std::int32_t>& numbers) {
    jsonKey(json, key);
    jsonOpen(json, '[');
    for (std::int32_t number : numbers) jsonNumber(json, number);
    jsonClose(json, ']');
}

void jsonDesign(JsonText& json, const Design& design) {
    jsonOpen(json, '{');
    jsonNumbers(json, "order", design.order);
    jsonNumberField(json, "start", static_cast<std::int64_t>(design.start));
    jsonNumbers(json, "minutes", design.minutes);
    jsonClose(json, '}');
}

}  // namespace

std::string designJson(const Design& design) {
    JsonText json;
    jsonDesign(json, design);
    return json.text;
}

bool designFromNumbers(const std::vector<std::int32_t>& numbers, std::size_t orderCount, std::int64_t start,
                       Design& design) {
    const std::size_t weathers = weatherCatalogue.size();
    if (orderCount == 0 || numbers.size() != orderCount + weathers || start < 0 || static_cast<std::size_t>(start) >= orderCount)
        return false;
    Design read;
    for (std::size_t i = 0; i < orderCount; ++i) {
        if (numbers[i] < 0 || static_cast<std::size_t>(numbers[i]) >= weathers) return false;
        read.order.push_back(numbers[i]);
    }
    for (std::size_t i = 0; i < weathers; ++i) {
        const std::int32_t minutes = numbers[orderCount + i];
        if (minutes < minMinutes || minutes > maxMinutes) return false;
        read.minutes.push_back(minutes);
    }
    read.start = static_cast<std::size_t>(start);
    design = read;
    return true;
}

namespace {

// The order made of the old entries at `kept` (old positions, in their new order), with the start
// by editOrder's rule: the kept entry fewest steps on from the old start, read round the cycle.
// The start's own entry is no steps on, so while it stays the start keeps to it.
void keepEntries(Design& design, const std::vector<std::size_t>& kept) {
    const std::size_t count = design.order.size();
    std::vector<std::int32_t> order;
    std::size_t start = 0;
    std::size_t fewest = count;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        order.push_back(design.order[kept[i]]);
        const std::size_t steps = (kept[i] + count - design.start) % count;
        if (steps < fewest) {
            fewest = steps;
            start = i;
        }
    }
    design.order = std::move(order);
    design.start = start;
}

}  // namespace

bool editOrder(Design& design, OrderEdit edit, std::int64_t which, std::int64_t to) {
    const auto count = static_cast<std::int64_t>(design.order.size());
    const auto entry = [count](std::int64_t position) { return position >= 0 && position < count; };
    if (design.start >= design.order.size()) return false;
    // Every entry but the weather's, or but the one removed or moved, in its order.
    std::vector<std::size_t> kept;
    for (std::size_t p = 0; p < design.order.size(); ++p) {
        const bool goes = edit == OrderEdit::removeWeather ? design.order[p] == which : static_cast<std::int64_t>(p) == which;
        if (!goes) kept.push_back(p);
    }
    switch (edit) {
    case OrderEdit::removeWeather:
        if (kept.size() == design.order.size()) return false;  // a weather not in the cycle
        break;
    case OrderEdit::removeEntry:
        if (!entry(which)) return false;
        break;
    case OrderEdit::moveEntry:
        if (!entry(which) || !entry(to)) return false;
        kept.insert(kept.begin() + to, static_cast<std::size_t>(which));
        break;
    default:
        return false;
    }
    keepEntries(design, kept);
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
    JsonText json;
    jsonOpen(json, '{');
    jsonKey(json, "weathers");
    jsonOpen(json, '[');
    for (const WeatherEntry& entry : weatherCatalogue) jsonString(json, entry.displayName);
    jsonClose(json, ']');
    jsonNumberField(json, "minMinutes", minMinutes);
    jsonNumberField(json, "maxMinutes", maxMinutes);
    jsonKey(json, "defaultDesign");
    jsonDesign(json, defaultDesign());
    jsonStringField(json, "lastWeather", "A cycle needs one weather at least: add another before you remove this one.");
    jsonKey(json, "edits");
    jsonOpen(json, '{');
    jsonNumberField(json, "removeWeather", static_cast<std::int64_t>(OrderEdit::removeWeather));
    jsonNumberField(json, "removeEntry", static_cast<std::int64_t>(OrderEdit::removeEntry));
    jsonNumberField(json, "moveEntry", static_cast<std::int64_t>(OrderEdit::moveEntry));
    jsonClose(json, '}');
    jsonClose(json, '}');
    return json.text;
}

std::string designWrittenJson(const Design& design) {
    JsonText json;
    jsonOpen(json, '{');
    jsonStringField(json, "text", designedSettingsText(design));
    jsonStringField(json, "description", designDescription(design));
    jsonClose(json, '}');
    return json.text;
}

std::string minutesJson(std::string_view typed) {
    const std::string line = "Set Rain Time = " + std::string(typed);
    const SettingsLine parsed = parseSettingsLine(line);
    JsonText json;
    jsonOpen(json, '{');
    jsonBoolField(json, "ok", parsed.verdict == ValueVerdict::valid);
    if (parsed.verdict != ValueVerdict::valid) {
        jsonStringField(json, "reason", "Nubilo would reject \"" + std::string(typed) + "\": " + valueRejection(parsed.verdict) +
                             ". Type a whole number of minutes from " + std::to_string(minMinutes) + " to " +
                             std::to_string(maxMinutes) + ".");
    } else {
        const std::string plain = std::to_string(parsed.minutes);
        const std::string_view trimmed = trimWhitespace(typed);
        jsonNumberField(json, "minutes", parsed.minutes);
        jsonStringField(json, "note", trimmed == plain ? std::string() : "Nubilo reads \"" + std::string(trimmed) + "\" as " + plain + " minutes.");
    }
    jsonClose(json, '}');
    return json.text;
}
