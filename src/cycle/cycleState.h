#pragma once
// The one process-wide record of where the weather cycle stands.

#include <cstdint>
#include <vector>

#include "fileAccess/fileAccess.h"
#include "settings/catalogue.h"

struct CycleState {
    std::int32_t currentPosition = 0;  // catalogue index, or index into customCycle while customActive
    std::int64_t lastChangeTime = 0;   // whole seconds since 1970 when the weather was last set
    IntervalMap intervals;
    std::vector<WeatherEntry> workingCatalogue;
    std::vector<std::int32_t> customCycle;
    bool customActive = false;
    // The settings file as the main loop last saw it: last-write time, size and file id; absent
    // for none.
    FileIdentity settingsWriteTime;
    // An unusable file seen on a reload is left alone until it has stayed the same this long:
    // an editor's save truncates the file first and writes it a moment later.
    bool settling = false;
    std::int64_t settlingSince = 0;      // clock reading when the file last changed while settling
    // While another program holds the file so that the star's rewrite cannot be made safely, the
    // step waits and tries again from this clock reading on; busyTries: the tries in a row that
    // found it busy.
    std::int64_t rewriteRetryTime = 0;
    std::int32_t busyTries = 0;
    // The last due step found the file busy; its refusal was last logged at busyLoggedAt.
    bool busy = false;
    std::int64_t busyLoggedAt = 0;
    // The step's file work has been started off the fibre (at starStepStartedAt) and its result
    // not yet taken; starStepLate once that has been said to take too long.
    bool starStepUnderWay = false;
    std::int64_t starStepStartedAt = 0;
    bool starStepLate = false;
};

// Seconds an unusable file must stay unchanged before it is backed up and replaced.
constexpr std::int64_t settleSeconds = 2;

// Seconds before the next try of a star rewrite that found the file busy `busyTries` times in a
// row: 1, 2, 4 ... doubling up to a minute. A scanner's moment is waited out at once; a program
// that keeps the file for long is not asked every second.
std::int64_t retryDelaySeconds(std::int32_t busyTries);

extern CycleState cycleState;

// The record as it stands when the module is loaded.
CycleState initialCycleState();

// The catalogue index of the weather showing, or -1 before the first load. A position past the
// end of the custom cycle (left there by the star road) is taken modulo its length.
std::int32_t currentCatalogueIndex(const CycleState& state);

// When the weather showing is due to change: the last change plus its interval (its minutes in
// the settings, the default where they name none), in clock seconds. Only once a load has given
// the state a catalogue (currentCatalogueIndex not -1).
std::int64_t dueTime(const CycleState& state);

// Whether the cycle step is due at clock reading `now`: never before the first load; at once when
// the clock was set back before the last change.
bool isDue(const CycleState& state, std::int64_t now);

// The settings file as the loop last saw it (absent: none seen), and whether a reading of the
// file differs from it: another last-write time, size or inode.
FileIdentity seenSettingsIdentity();
bool differsFromSeen(const FileIdentity& file);
// Makes the next pass reload the file, for a change the poll cannot see.
void forgetSeenSettings();
