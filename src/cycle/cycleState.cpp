#include "cycle/cycleState.h"

#include <utility>

#include "host/clock.h"
#include "settings/settingsText.h"

namespace {

// The record as it stands when the module is loaded.
CycleState initialCycleState() {
    CycleState state;
    state.lastChangeTime = currentTime();
    return state;
}

}  // namespace

CycleState cycleState = initialCycleState();

void resetCycleState() { cycleState = initialCycleState(); }

std::int32_t currentCatalogueIndex(const CycleState& state) {
    const auto size = static_cast<std::int64_t>(state.workingCatalogue.size());
    if (size == 0) return -1;
    std::int64_t index = state.currentPosition;
    if (state.customActive && !state.customCycle.empty()) {
        const auto length = static_cast<std::int64_t>(state.customCycle.size());
        index = state.customCycle[static_cast<std::size_t>(((index % length) + length) % length)];
    }
    return static_cast<std::int32_t>(((index % size) + size) % size);
}

std::int64_t dueTime(const CycleState& state) {
    const WeatherEntry& showing = state.workingCatalogue[static_cast<std::size_t>(currentCatalogueIndex(state))];
    const auto found = state.intervals.find(showing.displayName);
    const std::int64_t minutes = found == state.intervals.end() ? defaultMinutes : found->second;
    return state.lastChangeTime + minutes * 60;
}

bool isDue(const CycleState& state, std::int64_t now) {
    if (state.workingCatalogue.empty()) return false;  // nothing loaded yet
    return now >= dueTime(state) || now < state.lastChangeTime;
}

bool holdMet(FileHold& hold, std::int64_t retryMilliseconds) {
    const std::int64_t now = monotonicMilliseconds();
    if (!hold.on) hold.since = now;
    hold.tries = hold.on ? hold.tries + 1 : 1;
    hold.on = true;
    hold.retryAt = now + retryMilliseconds;
    hold.metAtTime = currentTime();
    if (now - hold.since < holdQuietMilliseconds || (hold.said && now - hold.saidAt < holdRepeatMilliseconds)) return false;
    hold.said = true;
    hold.saidAt = now;
    return true;
}

void holdEnded(FileHold& hold) { hold.on = false; }

bool holdWaits(const FileHold& hold, std::int64_t now) {
    return hold.on && now >= hold.metAtTime && monotonicMilliseconds() < hold.retryAt;
}

std::int64_t retryDelaySeconds(std::int32_t busyTries) {
    constexpr std::int64_t longest = 60;
    std::int64_t delay = 1;
    for (std::int32_t tries = 1; tries < busyTries && delay < longest; ++tries) delay *= 2;
    return delay < longest ? delay : longest;
}

std::int64_t busyRetryMilliseconds(const FileHold& hold) {
    return retryDelaySeconds(hold.on ? hold.tries + 1 : 1) * 1000;
}

void adoptCycle(IntervalMap intervals, std::vector<std::int32_t> markedIndexes, std::int32_t startIndex) {
    CycleState& state = cycleState;
    state.intervals = std::move(intervals);
    state.workingCatalogue = weatherCatalogue;
    state.lastChangeTime = currentTime();
    if (markedIndexes.size() < 2) {
        // One mark only says where the catalogue order starts.
        state.customCycle.clear();
        state.customActive = false;
        state.currentPosition = startIndex;
    } else {
        state.customCycle = std::move(markedIndexes);
        state.customActive = true;
        state.currentPosition = static_cast<std::int32_t>(customStartPosition(state.customCycle, startIndex));
    }
}

void weatherChangedAt(std::int64_t now) { cycleState.lastChangeTime = now; }

void moveCycleTo(std::int32_t position) { cycleState.currentPosition = position; }

FileIdentity seenSettingsIdentity() { return cycleState.settingsWriteTime; }

bool differsFromSeen(const FileIdentity& file) { return !sameFile(file, cycleState.settingsWriteTime); }

void rememberSeenSettings(const FileIdentity& identity) {
    cycleState.settingsWriteTime = identity.exists ? identity : FileIdentity{};
}

void forgetSeenSettings() { cycleState.settingsWriteTime = FileIdentity{}; }
