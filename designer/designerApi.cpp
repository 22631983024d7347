// The designer page's way into the plug-in's code: check a file, simulate a day of it, and write
// the file for a designed cycle. Each call returns JSON in one buffer that the next call reuses.
#include <emscripten/emscripten.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "nubiloTool.h"

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

// "start;m0,...,m9;o0,o1,...": a design as the page hands it over.
bool parseDesign(const char* text, Design& design) {
    char* at = const_cast<char*>(text);
    design.start = std::strtoul(at, &at, 10);
    if (*at++ != ';') return false;
    design.minutes.clear();
    while (design.minutes.size() < weatherCatalogue.size()) {
        const long minutes = std::strtol(at, &at, 10);
        if (minutes < minMinutes || minutes > maxMinutes) return false;
        design.minutes.push_back(static_cast<std::int32_t>(minutes));
        if (*at == ',' || *at == ';') ++at;
    }
    design.order.clear();
    while (*at != '\0') {
        const long index = std::strtol(at, &at, 10);
        if (index < 0 || index >= static_cast<long>(weatherCatalogue.size())) return false;
        design.order.push_back(static_cast<std::int32_t>(index));
        if (*at == ',') ++at;
        else if (*at != '\0') return false;
    }
    return !design.order.empty() && design.start < design.order.size();
}

}  // namespace

extern "C" {

// {"check": what `nubilo check --json` prints, "design": the cycle the plug-in makes of it}.
EMSCRIPTEN_KEEPALIVE const char* designerCheck(const char* bytes, int size) {
    const CheckReport report = analyseSettings(std::string_view(bytes, static_cast<std::size_t>(size)), size == 0);
    return give("{\"check\":" + checkReportJson(report) + ",\"design\":" + designJson(designOf(report)) + "}");
}

// What `nubilo simulate --json` prints for the file, over `seconds`.
EMSCRIPTEN_KEEPALIVE const char* designerSimulate(const char* bytes, int size, int seconds) {
    enterSimulationDirectory();
    const std::string settings(bytes, static_cast<std::size_t>(size));
    return give(simulationJson(simulateCycle(&settings, seconds), seconds));
}

// The settings file for a design; empty for one the page should not have sent.
EMSCRIPTEN_KEEPALIVE const char* designerWrite(const char* design) {
    Design parsed;
    return give(parseDesign(design, parsed) ? designedSettingsText(parsed) : std::string());
}
}
