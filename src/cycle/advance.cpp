#include "cycle/advance.h"

#include <string>

#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "host/clock.h"
#include "log/log.h"
#include "settings/fileAccess.h"
#include "settings/settingsFile.h"
#include "settings/settingsText.h"
#include "weather/applyWeather.h"

void advanceCycle() {
    CycleState& state = cycleState;
    const std::int64_t now = currentTime();
    const std::int32_t index = currentCatalogueIndex(state);
    if (index < 0) return;  // nothing loaded yet
    auto found = state.intervals.find(state.workingCatalogue[static_cast<std::size_t>(index)].displayName);
    const std::uint64_t minutes = found == state.intervals.end() ? defaultMinutes : static_cast<std::uint64_t>(found->second);
    // Unsigned on purpose: a clock set back before the last change makes the step due at once.
    if (static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(state.lastChangeTime) < minutes * 60) return;
    if (now < state.rewriteRetryTime) return;

    const std::int32_t star = findStarIndex();
    if (star != -1) {
        // The file's star decides the next weather; the reload that follows the rewrite applies it.
        const std::int32_t position = state.currentPosition;
        state.currentPosition = (star + 1) % static_cast<std::int32_t>(state.workingCatalogue.size());
        if (updateSettingsStar(state.intervals, state.workingCatalogue) == ReplaceOutcome::busy) {
            // Held by another program: still due, tried again shortly, nothing changed meanwhile.
            state.currentPosition = position;
            state.rewriteRetryTime = now + busyRetrySeconds;
            return;
        }
    } else if (state.customActive && !state.customCycle.empty()) {
        const auto length = static_cast<std::int32_t>(state.customCycle.size());
        state.currentPosition = (state.currentPosition % length + 1) % length;
        const std::int32_t next = state.customCycle[static_cast<std::size_t>(state.currentPosition)];
        applyWeather(state.workingCatalogue[static_cast<std::size_t>(next)].gameName);
    } else {
        writeLog("default is used");
        updateSettingsStar(state.intervals, state.workingCatalogue);
        applyWeather(state.workingCatalogue[static_cast<std::size_t>(index)].gameName);
    }
    state.lastChangeTime = now;
}

std::int32_t findStarIndex() {
    std::string text;
    if (!readSettingsFile(settingsPath, text).opened) {
        writeLog("[Nubilo] ERROR: Could not open Weather.ini to find star index.");
        return -1;
    }
    return findStarIndexInText(text);
}

bool validateSettings() {
    std::string text;
    if (!readSettingsFile(settingsPath, text).opened) {
        writeLog("[Nubilo] ERROR: Could not open Weather.ini for validation.");
        return false;
    }
    return countStars(text) == 1;
}

ReplaceOutcome updateSettingsStar(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers) {
    if (!validateSettings()) return ReplaceOutcome::failed;
    const CycleState& state = cycleState;
    const std::int32_t star = state.currentPosition;
    if (star < 0 || static_cast<std::size_t>(star) >= weathers.size()) return ReplaceOutcome::failed;
    // The minutes written come from the last load: write them only over the file that load read.
    // A file saved since, or one still settling, is the player's; the next pass reloads it.
    if (state.settling) return ReplaceOutcome::changedMeanwhile;
    const ReplaceOutcome outcome = replaceFileContentIf(
        settingsPath, canonicalSettingsText(intervals, weathers, star), false, seenSettingsIdentity());
    switch (outcome) {
        case ReplaceOutcome::written:
            writeLog("[Nubilo] Weather.ini updated. New star: " + weathers[static_cast<std::size_t>(star)].displayName);
            break;
        case ReplaceOutcome::changedMeanwhile:
        case ReplaceOutcome::busy: break;
        case ReplaceOutcome::failed: writeLog("[Nubilo] ERROR: Could not update Weather.ini with new star."); break;
    }
    return outcome;
}
