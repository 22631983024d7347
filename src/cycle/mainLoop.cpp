#include "cycle/mainLoop.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "cycle/advance.h"
#include "cycle/cycleState.h"
#include "fileAccess/fileAccess.h"
#include "fileAccess/fileAccessPlatform.h"
#include "host/clock.h"
#include "host/hostApi.h"
#include "log/log.h"
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

// The reload's own bookkeeping, apart from the cycle it loads into. Only this file writes it.
struct ReloadRecord {
    // An unusable file seen on a reload is left alone until it has stayed the same this long:
    // an editor's save truncates the file first and writes it a moment later.
    bool settling = false;
    std::int64_t settlingSince = 0;  // monotonic milliseconds when the file last changed while settling
    // The settings file could not be read at the last load: nothing of it is remembered, and the
    // loop goes on as it stood (at start, on the defaults, in memory only) until a later load.
    FileHold inUse;
};

ReloadRecord reloadRecord;

// A crash in the middle of a rewrite (the game killed, a power cut) may have left the old file
// aside and our temporary beside it: the player's file goes back before it is loaded. An aside
// file found alone may be the only copy: kept, under a name the line gives. Each leftover of
// ours that goes is said, so a player who finds a file gone finds why.
Recovery recoverFile(const std::string& path, const std::string& name, const std::string& keepAs) {
    const RecoveryReport report = recoverInterruptedReplace(path, keepAs);
    switch (report.outcome) {
        case Recovery::nothing: break;
        case Recovery::restored: writeLog("[Nubilo] " + name + " restored after an interrupted rewrite."); break;
        case Recovery::kept:
            writeLog("[Nubilo] An interrupted rewrite left only " + report.aside + ": kept as " + report.keptAs + ".");
            break;
        case Recovery::failed: writeLog("[Nubilo] ERROR: Could not restore " + name + " from " + report.aside + "."); break;
        case Recovery::notKept:
            writeLog("[Nubilo] ERROR: Could not keep " + report.aside + ", left alone by an interrupted rewrite, "
                     "under another name; no defaults written.");
            break;
    }
    for (const std::string& removed : report.removed) writeLog("[Nubilo] Removed " + removed + " left by an earlier run.");
    for (const std::string& left : report.notRemoved)
        writeLog("[Nubilo] ERROR: Could not remove " + left + " left by an earlier run.");
    return report.outcome;
}

// A file there but not read: nothing of it is remembered, so the poll loads it at its next try
// (a second on); said once it has lasted a few seconds. True while the loop keeps its state: only
// a start, which has none, takes the defaults meanwhile.
bool keepStateWhileInUse(const SettingsLoad& load) {
    if (!load.inUse) {
        holdEnded(reloadRecord.inUse);
        return false;
    }
    forgetSeenSettings();
    if (holdMet(reloadRecord.inUse, inUseRetryMilliseconds)) writeLog(inUseMessage);
    return !cycleState.workingCatalogue.empty();
}

}  // namespace

SettingsLoad adoptSettings(UnusableFile unusable) {
    std::int32_t startIndex = 0;
    std::vector<std::int32_t> markedIndexes;
    SettingsLoad load;
    IntervalMap intervals = loadSettings(startIndex, markedIndexes, unusable, load);
    if (keepStateWhileInUse(load)) return load;
    // What the next rewrite may replace: the file this load read, as it was before the read.
    if (load.read.exists) rememberSeenSettings(load.read);
    if (load.deferred) return load;
    reloadRecord.settling = false;
    const std::int32_t apply = firstWeatherIndex(markedIndexes, startIndex);
    adoptCycle(std::move(intervals), std::move(markedIndexes), startIndex);
    applyWeather(cycleState.workingCatalogue[static_cast<std::size_t>(apply)].gameName);
    return load;
}

void startCycle() noexcept {
    try {
        clearLog();
        writeLog("[Nubilo] Nubilo.ASI started. Adjusting Weather...");
        // The backup first: its own aside file found alone goes back under its name. After the
        // settings' pass, which may keep an aside file of theirs as the backup, that name would be
        // taken, and the backup's aside file taken for one whose rewrite had ended.
        recoverFile(settingsBackupPath, settingsBackupPath, settingsBackupPath);
        const Recovery recovery = recoverFile(settingsPath, "Weather.ini", settingsBackupPath);
        // A file that could not be put back keeps its name free of defaults for the next start.
        const bool stillAside = recovery == Recovery::failed || recovery == Recovery::notKept;
        const SettingsLoad load = adoptSettings(stillAside ? UnusableFile::keep : UnusableFile::replace);
        // The file as the loader read it (or as its own default write left it): a save that
        // lands after the read is then a change for the first pass.
        rememberSeenSettings(load.wroteDefaults ? load.written : load.read);
    } catch (const std::exception& error) {
        logFailure(error.what());
    } catch (...) {
        logFailure("unknown failure at start");
    }
}

namespace {

void reload(UnusableFile unusable) {
    const SettingsLoad load = adoptSettings(unusable);
    if (load.inUse) return;  // the cycle goes on as it stands
    if (load.deferred) {
        reloadRecord.settling = true;
        reloadRecord.settlingSince = monotonicMilliseconds();
        return;
    }
    weatherChangedAt(currentTime());
    // A new load starts a new wait: a busy rewrite before it is no hold of the next step's.
    endStarStepHold();
}

}  // namespace

bool settingsSettling() { return reloadRecord.settling; }

void resetCycle() {
    resetCycleState();
    reloadRecord = ReloadRecord{};
    resetStarStep();
}

// An idle pass -- no step under way, the file as last seen and not settling, nothing due -- makes
// one file-system query and no more: it opens nothing and allocates nothing, frame after frame.
void runCyclePass() noexcept {
    try {
        // While the star's rewrite is at the file off the fibre, nothing else touches the file.
        // The pass that finds it done collects its result and no more, so the log tells the
        // rewrite before the reload, which the next pass makes: two frames share the work.
        if (starStepUnderWay()) {
            collectStarStep();
            return;
        }
        // Absent, or not queryable (access refused, say): unchanged for this pass.
        FileIdentity file;
        if (queryFileIdentity(settingsPath.c_str(), file)) {
            if (differsFromSeen(file)) {
                // A file in use is opened again at its retry time, not at every pass.
                if (!holdWaits(reloadRecord.inUse, currentTime())) {
                    rememberSeenSettings(file);
                    reload(UnusableFile::defer);
                }
            } else if (reloadRecord.settling &&
                       monotonicMilliseconds() - reloadRecord.settlingSince >= settleSeconds * 1000) {
                reload(UnusableFile::replace);  // unchanged long enough: no save is in progress
            }
        }
        advanceCycle(reloadRecord.settling);
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
