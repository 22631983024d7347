#include "cycle/advance.h"

#include <atomic>
#include <string>
#include <vector>

#include "cycle/cycleState.h"
#include "fileAccess/fileAccess.h"
#include "fileAccess/fileAccessPlatform.h"
#include "host/clock.h"
#include "host/worker.h"
#include "log/log.h"
#include "settings/settingsFile.h"
#include "settings/settingsText.h"
#include "weather/applyWeather.h"

namespace {

// The star step's own bookkeeping, apart from the cycle it moves. Only this file writes it.
struct StarStepRecord {
    // The step under way, or the last one. The pass that finds the interval up fills it anew and
    // starts the work; the passes after leave the file alone until the work is done, and the
    // first that finds it done collects its result.
    StarStep step;
    std::atomic<bool> done{false};  // set off the fibre once the work has finished
    // Started (at startedAt, monotonic milliseconds) and its result not yet collected; late once
    // that has been said to take too long.
    bool underWay = false;
    std::int64_t startedAt = 0;
    bool late = false;
    // The last due step found the file held so that the star's rewrite cannot be made safely:
    // the step waits and tries again.
    FileHold busy;
};

StarStepRecord starStepRecord;

constexpr const char* couldNotUpdate = "[Nubilo] ERROR: Could not update Weather.ini with new star.";

// A step's file work still running after this long (monotonic) is said in the log (the message
// says 30).
constexpr std::int64_t lateStepSeconds = 30;

// The settings file's whole text; false when it could not all be read: a read that stopped early
// is no text to judge the star by. A file another program holds makes the whole step busy: tried
// again shortly, said only once the hold lasts, never taken for a file without a star.
bool wholeSettingsText(std::string& text, StarStep& step) {
    const FileRead read = readSettingsFile(settingsPath, text);
    if (read.inUse) {
        step.attempted = true;
        step.outcome = ReplaceOutcome::busy;
    }
    return read.opened && !read.readError;
}

void starStepJob(void*) noexcept {
    runStarStep(starStepRecord.step);
    starStepRecord.done.store(true, std::memory_order_release);
}

void startStarStep(bool settling) {
    const CycleState& state = cycleState;
    StarStepRecord& record = starStepRecord;
    record.step = StarStep{};  // nothing of an earlier step carries over
    StarStep& step = record.step;
    step.intervals = state.intervals;
    step.weathers = state.workingCatalogue;
    step.position = currentCatalogueIndex(state);
    step.customActive = state.customActive && !state.customCycle.empty();
    step.settling = settling;
    step.expected = seenSettingsIdentity();
    record.done.store(false, std::memory_order_relaxed);
    record.underWay = true;
    record.startedAt = monotonicMilliseconds();
    record.late = false;
    if (!runOffFibre(starStepJob, nullptr)) starStepJob(nullptr);
}

// A rewrite was tried and ended so.
bool rewriteEnded(const StarStep& step, ReplaceOutcome outcome) { return step.attempted && step.outcome == outcome; }

// The rewrite's own line, if one was tried: the new star, or the refusal -- a busy file's only
// once it has stayed busy a few seconds (a reader's moment is no news), then at most once a
// minute while it stays busy. A busy file is tried again after a pause that grows while it stays
// busy.
void reportRewrite(const StarStep& step) {
    FileHold& busy = starStepRecord.busy;
    if (rewriteEnded(step, ReplaceOutcome::busy)) {
        if (holdMet(busy, busyRetryMilliseconds(busy))) writeLog(couldNotUpdate);
    } else {
        holdEnded(busy);
        if (step.thrown || rewriteEnded(step, ReplaceOutcome::failed))
            writeLog(couldNotUpdate);
        else if (rewriteEnded(step, ReplaceOutcome::written))
            writeLog("[Nubilo] Weather.ini updated. New star: " +
                     step.weathers[static_cast<std::size_t>(step.position)].displayName);
    }
    // Our own new file is reloaded on the next pass even where the poll cannot tell it from the
    // old one (FAT32 keeps 2-second steps of local time, so a forced later stamp can round back);
    // so is a save the content check found.
    if (step.unseenSave || rewriteEnded(step, ReplaceOutcome::written)) forgetSeenSettings();
}

void followStarRoad(const StarStep& step, std::int64_t now) {
    // The file's star decides the next weather; the reload that follows the rewrite applies it.
    moveCycleTo(step.position);
    weatherChangedAt(now);
}

void stepCustomCycle(std::int64_t now) {
    const CycleState& state = cycleState;
    const auto length = static_cast<std::int32_t>(state.customCycle.size());
    moveCycleTo((state.currentPosition % length + 1) % length);
    const std::int32_t next = state.customCycle[static_cast<std::size_t>(state.currentPosition)];
    applyWeather(state.workingCatalogue[static_cast<std::size_t>(next)].gameName);
    weatherChangedAt(now);
}

void followDefaultRoad(const StarStep& step, std::int64_t now) {
    applyWeather(cycleState.workingCatalogue[static_cast<std::size_t>(step.position)].gameName);
    weatherChangedAt(now);
}

// A dead network share or a dying disk can hold the work for long: said once. Its age on the
// monotonic clock: a clock set forward is no wait, one set back hides none.
void sayIfLate(StarStepRecord& record) {
    if (record.late || monotonicMilliseconds() - record.startedAt < lateStepSeconds * 1000) return;
    record.late = true;
    writeLog("[Nubilo] ERROR: Weather.ini has not answered for 30 seconds; the cycle waits for it.");
}

}  // namespace

void advanceCycle(bool settling) {
    const std::int64_t now = currentTime();
    if (!isDue(cycleState, now) || holdWaits(starStepRecord.busy, now)) return;
    startStarStep(settling);
    collectStarStep();  // at once where the work ran at once
}

bool starStepUnderWay() { return starStepRecord.underWay; }

void collectStarStep() {
    StarStepRecord& record = starStepRecord;
    if (!record.done.load(std::memory_order_acquire)) {
        sayIfLate(record);
        return;
    }
    record.underWay = false;
    const StarStep& step = record.step;
    const std::int64_t now = currentTime();
    for (const std::string& message : step.messages) writeLog(message);
    reportRewrite(step);
    // Held by another program: still due, tried again shortly (reportRewrite); nothing moves meanwhile.
    if (rewriteEnded(step, ReplaceOutcome::busy)) return;
    if (step.thrown)
        weatherChangedAt(now);  // as a refused rewrite: the weather stays until the next due time
    else if (step.star != -1)
        followStarRoad(step, now);
    else if (step.customActive)
        stepCustomCycle(now);
    else
        followDefaultRoad(step, now);
}

void endStarStepHold() { holdEnded(starStepRecord.busy); }

void resetStarStep() {
    StarStepRecord& record = starStepRecord;
    record.step = StarStep{};
    record.done.store(false, std::memory_order_relaxed);
    record.underWay = false;
    record.startedAt = 0;
    record.late = false;
    record.busy = FileHold{};
}

void runStarStep(StarStep& step) noexcept {
    try {
        step.star = findStarIndex(step);
        if (rewriteEnded(step, ReplaceOutcome::busy)) return;
        if (step.star != -1) {
            step.position = (step.star + 1) % static_cast<std::int32_t>(step.weathers.size());
            updateSettingsStar(step.intervals, step.weathers, step);
        } else if (!step.customActive) {
            step.messages.emplace_back("default is used");
            updateSettingsStar(step.intervals, step.weathers, step);
        }
    } catch (...) {
        // Off the fibre nothing may escape: the step fails as a refused rewrite does.
        step.thrown = true;
    }
}

std::int32_t findStarIndex(StarStep& step) {
    std::string text;
    if (!wholeSettingsText(text, step)) {
        if (!rewriteEnded(step, ReplaceOutcome::busy))
            step.messages.emplace_back("[Nubilo] ERROR: Could not open Weather.ini to find star index.");
        return -1;
    }
    return findStarIndexInText(text);
}

bool validateSettings(StarStep& step) {
    std::string text;
    if (!wholeSettingsText(text, step)) {
        if (!rewriteEnded(step, ReplaceOutcome::busy))
            step.messages.emplace_back("[Nubilo] ERROR: Could not open Weather.ini for validation.");
        return false;
    }
    return starIsMovable(countStars(text));
}

void updateSettingsStar(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers, StarStep& step) {
    if (!validateSettings(step)) return;
    if (step.position < 0 || static_cast<std::size_t>(step.position) >= weathers.size()) return;
    // The minutes written come from the last load: write them only over the file that load read.
    // A file saved since, or one still settling, is the player's; the next pass reloads it.
    if (step.settling) return;
    // No load has read the file (it was in use, say): its minutes are not in memory, so nothing
    // is written over it; a reload is asked for instead.
    if (step.expected.contentHash == 0) {
        step.unseenSave = true;
        return;
    }
    step.attempted = true;
    std::vector<std::string> kept;
    step.outcome = replaceFileContentIf(settingsPath, canonicalSettingsText(intervals, weathers, step.position), false,
                                        step.expected, nullptr, &kept);
    for (const std::string& keptAs : kept) step.messages.push_back(keptFileLine(settingsPath, keptAs));
    if (step.outcome != ReplaceOutcome::changedMeanwhile) return;
    // Changed where the change poll cannot see it (the same time and size: a coarse clock)?
    FileIdentity now;
    step.unseenSave = queryFileIdentity(settingsPath.c_str(), now) && sameFile(now, step.expected);
}
