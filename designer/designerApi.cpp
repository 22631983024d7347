// The designer page's way into the plug-in's code: check a file, simulate a day of it, edit a
// designed cycle's order and write its file. Each call returns JSON in one buffer that the next
// call reuses.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "check.h"
#include "design.h"
#include "json.h"
#include "simulate.h"

namespace {

std::string answer;

const char* give(std::string json) {
    answer = std::move(json);
    return answer.c_str();
}

// The simulation's private directory on the page's in-memory file system.
void enterSimulationDirectory() {
    static bool made = false;
    if (!made) {
        std::error_code ignored;
        std::filesystem::create_directories("/nubilo", ignored);
        std::filesystem::current_path("/nubilo", ignored);
        made = true;
    }
}

// A design handed over as `size` bytes of plain numbers: `orderCount` catalogue indexes, then the
// ten weathers' minutes. False for a design the page should not have sent.
bool designGiven(const std::int32_t* numbers, int size, int orderCount, int start, Design& design) {
    const bool whole = numbers != nullptr && size >= 0 && static_cast<std::size_t>(size) % sizeof *numbers == 0 && orderCount >= 0;
    const std::vector<std::int32_t> given = whole ? std::vector<std::int32_t>(numbers, numbers + static_cast<std::size_t>(size) / sizeof *numbers)
                                                  : std::vector<std::int32_t>{};
    return designFromNumbers(given, static_cast<std::size_t>(std::max(orderCount, 0)), start, design);
}

}  // namespace

extern "C" {

// {"check": what `nubilo check --json` prints, with equal lines in a row as one run, "design":
// the cycle the plug-in makes of it}.
EMSCRIPTEN_KEEPALIVE const char* designerCheck(const char* bytes, int size) {
    const CheckReport report =
        analyseSettings(std::string_view(bytes, static_cast<std::size_t>(size)), size == 0, LineDetail::runs);
    JsonText json;
    jsonOpen(json, '{');
    jsonKey(json, "check");
    jsonValue(json, checkReportJson(report, LineDetail::runs));
    jsonKey(json, "design");
    jsonValue(json, designJson(designOf(report)));
    jsonClose(json, '}');
    return give(std::move(json.text));
}

// What `nubilo simulate --json` prints for the file, over `seconds`.
EMSCRIPTEN_KEEPALIVE const char* designerSimulate(const char* bytes, int size, int seconds) {
    enterSimulationDirectory();
    const std::string settings(bytes, static_cast<std::size_t>(size));
    return give(simulationJson(simulateCycle(&settings, seconds), seconds));
}

// {"text": the settings file for a design, "description": how the plug-in runs it}; {"text":""}
// for a design the page should not have sent.
EMSCRIPTEN_KEEPALIVE const char* designerWrite(const std::int32_t* numbers, int size, int orderCount, int start) {
    Design design;
    if (!designGiven(numbers, size, orderCount, start, design)) design = Design{};  // which the writer refuses: no text
    return give(designWrittenJson(design));
}

// The design after the player's edit of its order (editOrder: `edit` one of its codes, `which` the
// weather or the entry, `to` where a moved entry goes), handed over as to designerWrite:
// {"order":[..],"start":..,"minutes":[..]}. Every control that edits the order asks here, so the
// start moves by one rule. The empty design, which the writer refuses, for a design or an edit
// the page should not have sent.
EMSCRIPTEN_KEEPALIVE const char* designerEdit(const std::int32_t* numbers, int size, int orderCount, int start, int edit, int which,
                                              int to) {
    Design design;
    if (!designGiven(numbers, size, orderCount, start, design) || !editOrder(design, static_cast<OrderEdit>(edit), which, to))
        design = Design{};
    return give(designJson(design));
}

// The catalogue, the minutes' range and the default design.
EMSCRIPTEN_KEEPALIVE const char* designerFacts() { return give(designerFactsJson()); }

// Typed minutes, read by the plug-in's own reader.
EMSCRIPTEN_KEEPALIVE const char* designerMinutes(const char* typed) { return give(minutesJson(typed)); }
}
