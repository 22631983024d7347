#include "cycle/advance.h"

#include <atomic>
#include <string>
#include <vector>

#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "host/clock.h"
#include "host/worker.h"
#include "log/log.h"
#include "settings/fileAccess.h"
#include "settings/settingsFile.h"
#include "settings/settingsText.h"
#include "weather/applyWeather.h"

namespace {

// The star road's file work -- the lookup, the validation and the rewrite, each a trip to the
// disk -- done off the script fibre. The pass that finds the interval up starts it; the passes
// after wait for it (doing nothing else with the file) and the first that finds it finished takes
// its result, as the steps on the fibre would have. Its log lines are written then, on the fibre.
struct StarRewrite {
    // Given by the fibre when the job starts.
    IntervalMap intervals;
    std::vector<WeatherEntry> weathers;
    FileIdentity expected;  // the file the last load read
    bool settling = false;
    // Made by the job.
    bool lookupOpened = false;
    std::int32_t star = -1;  // the star found, -1 for none
    bool validationOpened = false;
    bool valid = false;
    ReplaceOutcome outcome = ReplaceOutcome::failed;
    bool attempted = false;  // a write was tried
    std::atomic<bool> finished{false};
};

StarRewrite starRewrite;

std::int32_t lookUpStar(bool& opened) {
    std::string text;
    opened = readSettingsFile(settingsPath, text).opened;
    return opened ? findStarIndexInText(text) : -1;
}

bool singleStar(bool& opened) {
    std::string text;
    opened = readSettingsFile(settingsPath, text).opened;
    return opened && countStars(text) == 1;
}

void rewriteStar(void*) {
    StarRewrite& job = starRewrite;
    job.star = lookUpStar(job.lookupOpened);
    if (job.star != -1) {
        job.valid = singleStar(job.validationOpened);
        const std::int32_t next = (job.star + 1) % static_cast<std::int32_t>(job.weathers.size());
        if (job.valid && !job.settling) {
            job.attempted = true;
            job.outcome = replaceFileContentIf(settingsPath, canonicalSettingsText(job.intervals, job.weathers, next),
                                               false, job.expected);
        }
    }
    job.finished.store(true, std::memory_order_release);
}

void logRewrite(const StarRewrite& job, std::int32_t next) {
    if (!job.validationOpened) {
        writeLog("[Nubilo] ERROR: Could not open Weather.ini for validation.");
        return;
    }
    if (!job.attempted) return;
    switch (job.outcome) {
        case ReplaceOutcome::written:
            writeLog("[Nubilo] Weather.ini updated. New star: " + job.weathers[static_cast<std::size_t>(next)].displayName);
            break;
        case ReplaceOutcome::changedMeanwhile:
        case ReplaceOutcome::busy: break;
        case ReplaceOutcome::failed: writeLog("[Nubilo] ERROR: Could not update Weather.ini with new star."); break;
    }
}

}  // namespace

bool takeStarRewrite() {
    CycleState& state = cycleState;
    StarRewrite& job = starRewrite;
    if (!state.rewriteUnderWay) return true;
    if (!job.finished.load(std::memory_order_acquire)) return false;
    state.rewriteUnderWay = false;
    const std::int64_t now = currentTime();
    if (!job.lookupOpened) writeLog("[Nubilo] ERROR: Could not open Weather.ini to find star index.");
    if (job.star == -1) {
        stepWithoutStar(now);
        return true;
    }
    const std::int32_t next = (job.star + 1) % static_cast<std::int32_t>(job.weathers.size());
    logRewrite(job, next);
    if (job.attempted && job.outcome == ReplaceOutcome::busy) {
        // Held by another program: still due, tried again shortly, nothing changed meanwhile.
        state.rewriteRetryTime = now + busyRetrySeconds;
        return true;
    }
    // The file's star decides the next weather; the reload that follows the rewrite applies it.
    state.currentPosition = next;
    state.lastChangeTime = now;
    return true;
}

void advanceCycle() {
    CycleState& state = cycleState;
    if (state.rewriteUnderWay) return;  // its result is taken by a later pass
    const std::int64_t now = currentTime();
    const std::int32_t index = currentCatalogueIndex(state);
    if (index < 0) return;  // nothing loaded yet
    auto found = state.intervals.find(state.workingCatalogue[static_cast<std::size_t>(index)].displayName);
    const std::uint64_t minutes = found == state.intervals.end() ? defaultMinutes : static_cast<std::uint64_t>(found->second);
    // Unsigned on purpose: a clock set back before the last change makes the step due at once.
    if (static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(state.lastChangeTime) < minutes * 60) return;
    if (now < state.rewriteRetryTime) return;

    StarRewrite& job = starRewrite;
    job.intervals = state.intervals;
    job.weathers = state.workingCatalogue;
    job.expected = seenSettingsIdentity();
    job.settling = state.settling;
    job.lookupOpened = job.validationOpened = job.valid = job.attempted = false;
    job.star = -1;
    job.outcome = ReplaceOutcome::failed;
    job.finished.store(false, std::memory_order_relaxed);
    state.rewriteUnderWay = true;
    if (!runOffFibre(rewriteStar, nullptr)) rewriteStar(nullptr);
    takeStarRewrite();  // at once where the job ran at once
}

void stepWithoutStar(std::int64_t now) {
    CycleState& state = cycleState;
    const std::int32_t index = currentCatalogueIndex(state);
    if (index < 0) return;
    if (state.customActive && !state.customCycle.empty()) {
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
