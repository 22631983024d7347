// The simulate logic on its own: the plug-in's two loop halves driven on a simulated clock, in
// the current directory. The nubilo tool runs it in a private directory; the designer page runs
// it on the browser's in-memory file system.
#include <algorithm>
#include <cstring>
#include <cstdio>

#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "fileAccess/fileAccess.h"
#include "fileAccess/fileAccessPlatform.h"
#include "check.h"
#include "json.h"
#include "log/log.h"
#include "simulate.h"
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
    if (settingsSettling()) return now + 1;
    if (currentCatalogueIndex(state) < 0) return end;
    return std::clamp(dueTime(state) - simulationStart, now + 1, end);
}

}  // namespace

Simulation simulateCycle(const std::string* settings, std::int64_t seconds, bool everySecond) {
    std::remove(settingsPath.c_str());
    std::remove(settingsBackupPath.c_str());
    if (settings != nullptr) replaceFileContent(settingsPath, *settings, true);
    substituteReset(simulationStart);
    resetCycle();
    startCycle();
    for (std::int64_t now = 0; now < seconds;) {
        substituteHost.clock = simulationStart + now;
        runCyclePass();
        now = everySecond ? now + 1 : nextEventfulSecond(now, seconds);
    }
    Simulation simulation;
    simulation.shown = timeline();
    readWholeFile(logFileName, simulation.log, false);
    return simulation;
}

namespace {

std::int64_t bandEnd(const Simulation& simulation, std::size_t i, std::int64_t seconds) {
    return i + 1 < simulation.shown.size() ? simulation.shown[i + 1].at : seconds;
}

void jsonBands(JsonText& json, const Simulation& simulation, std::int64_t seconds) {
    jsonKey(json, "bands");
    jsonOpen(json, '[');
    for (std::size_t i = 0; i < simulation.shown.size(); ++i) {
        const Showing& band = simulation.shown[i];
        jsonOpen(json, '{');
        jsonStringField(json, "weather", band.displayName);
        jsonStringField(json, "game", band.gameName);
        jsonNumberField(json, "start", band.at);
        jsonNumberField(json, "end", bandEnd(simulation, i, seconds));
        jsonKey(json, "wind");
        jsonDecimal(json, static_cast<double>(band.wind), 1);
        jsonClose(json, '}');
    }
    jsonClose(json, ']');
}

void jsonLogLines(JsonText& json, const std::string& log) {
    jsonKey(json, "log");
    jsonOpen(json, '[');
    for (std::size_t start = 0; start < log.size();) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string_view line(log.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        jsonString(json, printableLine(line, std::string::npos));  // as check shows the log
        start = end + 1;
    }
    jsonClose(json, ']');
}

// Each band's times as the page shows them, in the words of the text timeline.
void jsonLabels(JsonText& json, const Simulation& simulation, std::int64_t seconds) {
    jsonKey(json, "labels");
    jsonOpen(json, '[');
    for (std::size_t i = 0; i < simulation.shown.size(); ++i) {
        const std::int64_t start = simulation.shown[i].at, end = bandEnd(simulation, i, seconds);
        jsonOpen(json, '{');
        jsonStringField(json, "from", clockText(start));
        jsonStringField(json, "to", clockText(end));
        jsonStringField(json, "lasts", durationText(end - start));
        jsonClose(json, '}');
    }
    jsonClose(json, ']');
}

}  // namespace

std::string simulationJson(const Simulation& simulation, std::int64_t seconds) {
    JsonText json;
    jsonOpen(json, '{');
    jsonNumberField(json, "seconds", seconds);
    jsonBands(json, simulation, seconds);
    jsonLogLines(json, simulation.log);
    jsonLabels(json, simulation, seconds);
    jsonClose(json, '}');
    return json.text;
}
