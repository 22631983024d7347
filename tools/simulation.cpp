// The simulate logic on its own: the plug-in's two loop halves driven on a simulated clock, in
// the current directory. The nubilo tool runs it in a private directory; the designer page runs
// it on the browser's in-memory file system.
#include <algorithm>
#include <cstring>
#include <cstdio>

#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "fileAccess/fileAccess.h"
#include "nubiloTool.h"
#include "settings/settingsFile.h"
#include "substitute/substituteHost.h"
#include "weather/applyWeather.h"

namespace {

// The applications the substitute host recorded, as what showed from when.
std::vector<Showing> timeline() {
    std::vector<Showing> shown;
    std::string lastHashed;
    for (const NativeCall& call : substituteHost.nativeCalls) {
        if (call.hash == nativeGetHashKey) lastHashed = call.hashedName;
        if (call.hash == nativeSetWeatherType) {
            Showing showing;
            showing.at = call.clock - simulationStart;
            showing.gameName = lastHashed;
            showing.displayName = displayNameOf(lastHashed);
            shown.push_back(showing);
        }
        if (call.hash == nativeSetWindSpeed && !shown.empty() && !call.args.empty()) {
            const auto bits = static_cast<std::uint32_t>(call.args[0]);
            std::memcpy(&shown.back().wind, &bits, sizeof bits);  // no std::bit_cast in the WebAssembly build
        }
    }
    return shown;
}

// The next second at which a pass can do anything: the next one while the file differs from
// what the loop last saw or is settling, else the moment the current weather's interval is up.
std::int64_t nextEventfulSecond(std::int64_t now, std::int64_t end) {
    const CycleState& state = cycleState;
    FileIdentity file;
    if (queryFileIdentity(settingsPath.c_str(), file) && differsFromSeen(file)) return now + 1;
    if (state.settling) return now + 1;
    if (currentCatalogueIndex(state) < 0) return end;
    return std::clamp(dueTime(state) - simulationStart, now + 1, end);
}

}  // namespace

Simulation simulateCycle(const std::string* settings, std::int64_t seconds, bool everySecond) {
    std::remove("Nubilo.ini");
    std::remove("Nubilo.ini.bak");
    if (settings != nullptr) replaceFileContent("Nubilo.ini", *settings, true);
    substituteReset(simulationStart);
    cycleState = initialCycleState();
    startCycle();
    for (std::int64_t now = 0; now < seconds;) {
        substituteHost.clock = simulationStart + now;
        runCyclePass();
        now = everySecond ? now + 1 : nextEventfulSecond(now, seconds);
    }
    Simulation simulation;
    simulation.shown = timeline();
    readWholeFile("Weather.txt", simulation.log, false);
    return simulation;
}

std::string simulationJson(const Simulation& simulation, std::int64_t seconds) {
    std::string json = "{\"seconds\":" + std::to_string(seconds) + ",\"bands\":[";
    const std::vector<Showing>& shown = simulation.shown;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        char wind[32];
        std::snprintf(wind, sizeof wind, "%.1f", static_cast<double>(shown[i].wind));
        json += i ? "," : "";
        json += "{\"weather\":" + jsonString(shown[i].displayName) +
                ",\"game\":" + jsonString(shown[i].gameName) + ",\"start\":" + std::to_string(shown[i].at) +
                ",\"end\":" + std::to_string(i + 1 < shown.size() ? shown[i + 1].at : seconds) + ",\"wind\":" + wind + "}";
    }
    json += "],\"log\":[";
    std::size_t start = 0;
    bool first = true;
    while (start < simulation.log.size()) {
        std::size_t end = simulation.log.find('\n', start);
        if (end == std::string::npos) end = simulation.log.size();
        std::string line = simulation.log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        json += first ? "" : ",";
        json += jsonString(line);
        first = false;
        start = end + 1;
    }
    // Each band's times as the page shows them, in the words of the text timeline.
    json += "],\"labels\":[";
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const std::int64_t end = i + 1 < shown.size() ? shown[i + 1].at : seconds;
        json += i ? "," : "";
        json += "{\"from\":" + jsonString(clockText(shown[i].at)) + ",\"to\":" + jsonString(clockText(end)) +
                ",\"lasts\":" + jsonString(durationText(end - shown[i].at)) + "}";
    }
    return json + "]}";
}
