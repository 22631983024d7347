#include "cycle/mainLoop.h"

#include <exception>
#include <string>
#include <vector>

#include "cycle/advance.h"
#include "cycle/cycleState.h"
#include "host/clock.h"
#include "host/hostApi.h"
#include "log/log.h"
#include "settings/fileAccess.h"
#include "settings/settingsFile.h"
#include "settings/settingsText.h"
#include "weather/applyWeather.h"

namespace {

void logFailure(const char* what) noexcept {
    try {
        writeLog(std::string("[Nubilo] ERROR: ") + what);
    } catch (...) {
        // Out of memory even for the message: the line is dropped like any unwritable line.
    }
}

}  // namespace

void adoptSettings() {
    CycleState& state = cycleState;
    std::int32_t startIndex = 0;
    std::vector<std::int32_t> markedIndexes;
    state.intervals = loadSettings(startIndex, markedIndexes);
    state.workingCatalogue = weatherCatalogue;
    state.lastChangeTime = currentTime();
    std::int32_t apply = startIndex;
    if (markedIndexes.size() < 2) {
        // One mark only says where the catalogue order starts.
        state.customCycle.clear();
        state.customActive = false;
        state.currentPosition = startIndex;
    } else {
        state.customCycle = std::move(markedIndexes);
        state.customActive = true;
        state.currentPosition = static_cast<std::int32_t>(customStartPosition(state.customCycle, startIndex));
        apply = state.customCycle[static_cast<std::size_t>(state.currentPosition)];
    }
    applyWeather(state.workingCatalogue[static_cast<std::size_t>(apply)].gameName);
}

void startCycle() noexcept {
    try {
        clearLog();
        writeLog("[Nubilo] Nubilo.ASI started. Adjusting Weather...");
        adoptSettings();
        // Read after the load, so a default file written just now is no change.
        std::int64_t writeTime = 0;
        cycleState.settingsWriteTime = queryWriteTime(settingsPath.c_str(), writeTime) ? writeTime : 0;
    } catch (const std::exception& error) {
        logFailure(error.what());
    } catch (...) {
        logFailure("unknown failure at start");
    }
}

void runCyclePass() noexcept {
    try {
        // Absent, or not queryable (access refused, say): unchanged for this pass.
        std::int64_t writeTime = 0;
        if (queryWriteTime(settingsPath.c_str(), writeTime) && writeTime != cycleState.settingsWriteTime) {
            cycleState.settingsWriteTime = writeTime;
            adoptSettings();
            cycleState.lastChangeTime = currentTime();
        }
        advanceCycle();
    } catch (const std::exception& error) {
        logFailure(error.what());
    } catch (...) {
        logFailure("unknown failure in a pass");
    }
}

void runCycleLoop() {
    startCycle();
    for (;;) {
        runCyclePass();
        scriptWait(0);
    }
}
