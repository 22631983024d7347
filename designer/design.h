#pragma once
// Cycles as the designer page edits them: the file that makes the plug-in run one, the one the
// plug-in makes of a file, and the edits of a cycle's order.

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

// The edits the player makes to a design's order, by the codes the page is given (designerFactsJson):
// a weather's box cleared (every entry of it goes), an entry's ✕ (that entry goes), an entry
// moved by its arrows or by dragging.
enum class OrderEdit : std::int32_t { removeWeather = 0, removeEntry = 1, moveEntry = 2 };

// The design after an edit: `which` is the weather or the entry's position, `to` where a moved
// entry goes. One rule for the start, since the player picked an entry, not a weather: it stays
// on its entry wherever that entry goes; where its entry is removed, it passes to the entry the
// cycle would have come to next, the next that stays read round the cycle (from the last back to
// the first). So the cycle read from its start runs on as before, less what was removed: an entry
// removed before or after the start leaves the start where it was; where the start's weather
// stands twice, the start keeps to its own entry, and its entry removed hands the start on to the
// entry after it, not to the other of that weather. Removing the last weather leaves an empty
// order, which designedSettingsText refuses. False, the design unchanged, for an edit the page
// should not have sent (nothing is guessed).
bool editOrder(Design& design, OrderEdit edit, std::int64_t which, std::int64_t to);

// What the designer says under a design: how the plug-in will run it.
std::string designDescription(const Design& design);

// {"order":[..],"start":..,"minutes":[..]}
std::string designJson(const Design& design);

// The catalogue, the minutes' range, the default design and the edits' codes, for the designer page.
std::string designerFactsJson();

// {"text": the settings file, "description": how the plug-in runs it}; text empty for a design
// designedSettingsText refuses.
std::string designWrittenJson(const Design& design);

// Minutes typed by the player, read as the plug-in reads a value: {"ok":true,"minutes":N,"note":...}
// (note empty unless the plug-in reads the text otherwise than it looks) or {"ok":false,"reason":...}.
std::string minutesJson(std::string_view typed);
