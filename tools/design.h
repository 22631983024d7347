#pragma once
// Cycles as the designer page edits them: the file that makes the plug-in run one, and the one
// the plug-in makes of a file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"

struct Design {
    std::vector<std::int32_t> order;    // catalogue indexes in cycle order; a weather may repeat
    std::size_t start = 0;              // the position in order the cycle starts at
    std::vector<std::int32_t> minutes;  // every weather's minutes, in catalogue order
};

// All ten in catalogue order from Clear, 30 minutes each: the plug-in's defaults.
Design defaultDesign();

// The settings file that makes the plug-in run exactly this cycle: the canonical layout with
// one star when the order is the catalogue's with all ten; otherwise a custom cycle of marked
// lines. Empty for a design without weathers.
std::string designedSettingsText(const Design& design);

// The cycle the plug-in makes of a checked file, to edit from.
Design designOf(const CheckReport& report);

// A design handed over as plain numbers: `orderCount` catalogue indexes, then the ten weathers'
// minutes, and nothing more. False for anything the page should not have sent (nothing is guessed).
bool designFromNumbers(const std::vector<std::int32_t>& numbers, std::size_t orderCount, std::int64_t start,
                       Design& design);

// What the designer says under a design: how the plug-in will run it.
std::string designDescription(const Design& design);

// {"order":[..],"start":..,"minutes":[..]}
std::string designJson(const Design& design);

// The catalogue, the minutes' range and the default design, for the designer page.
std::string designerFactsJson();

// {"text": the settings file, "description": how the plug-in runs it}; text empty for a design
// designedSettingsText refuses.
std::string designWrittenJson(const Design& design);

// Minutes typed by the player, read as the plug-in reads a value: {"ok":true,"minutes":N,"note":...}
// (note empty unless the plug-in reads the text otherwise than it looks) or {"ok":false,"reason":...}.
std::string minutesJson(std::string_view typed);
