#pragma once
// The one process-wide record of where the weather cycle stands.

#include <cstdint>
#include <vector>

#include "fileAccess/fileAccess.h"
#include "settings/catalogue.h"

// Another program keeping the settings file from the plug-in: the loader could not read it (in
// use), or the star's rewrite could not replace it (busy). Times are monotonic milliseconds
// unless named otherwise.
struct FileHold {
    bool on = false;                  // the last try met it
    std::int32_t tries = 0;           // tries in a row that met it
    std::int64_t since = 0;           // when this hold was first met
    std::int64_t retryAt = 0;         // when the file is tried again
    std::int64_t metAtTime = 0;       // calendar seconds at the last try: a clock set back since
                                      // then is a reason to try again at once
    bool said = false;                // a line has said a hold of this kind, the last at saidAt
    std::int64_t saidAt = 0;
};

// The cycle itself: what the last load gave it and where it stands. Only cycleState.cpp writes
// it; the reload's and the star step's own bookkeeping live with them.
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
};

// Seconds an unusable file must stay unchanged before it is backed up and replaced.
constexpr std::int64_t settleSeconds = 2;

// Seconds before the next try of a star rewrite that found the file busy `busyTries` times in a
// row: 1, 2, 4 ... doubling up to a minute. A scanner's moment is waited out at once; a program
// that keeps the file for long is not asked every second.
std::int64_t retryDelaySeconds(std::int32_t busyTries);

// The pause before the next try should this one meet the hold too, in milliseconds.
std::int64_t busyRetryMilliseconds(const FileHold& hold);

// Milliseconds between two loads of a file that was in use: a pending load opens the file no
// more often than this, whatever the frame rate.
constexpr std::int64_t inUseRetryMilliseconds = 1000;

// A hold on the file is said only once it has lasted this long (a reader's moment is no news),
// then at most once a minute.
constexpr std::int64_t holdQuietMilliseconds = 5000;
constexpr std::int64_t holdRepeatMilliseconds = 60000;

extern CycleState cycleState;

// Puts the record back as it stands when the module is loaded (resetCycle does the whole cycle).
void resetCycleState();

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

// A try of the file met the hold: it is tried again `retryMilliseconds` later. True when the
// hold is to be said now: once it has lasted holdQuietMilliseconds, then at most once in
// holdRepeatMilliseconds (counted across holds of the same kind).
bool holdMet(FileHold& hold, std::int64_t retryMilliseconds);
// A try got through: a later hold starts anew.
void holdEnded(FileHold& hold);
// Whether a held file is still left alone at calendar time `now`: until its retry time, unless
// the calendar clock has been set back since the try.
bool holdWaits(const FileHold& hold, std::int64_t now);

// Takes a load into the cycle: its minutes, the catalogue, and where the cycle starts -- the
// custom cycle where two or more weathers are marked, else catalogue order from startIndex. The
// weather changes now.
void adoptCycle(IntervalMap intervals, std::vector<std::int32_t> markedIndexes, std::int32_t startIndex);
// The weather was set (or stays, as set) at clock reading `now`: its interval counts from there.
void weatherChangedAt(std::int64_t now);
// The cycle stands at `position` (as currentPosition).
void moveCycleTo(std::int32_t position);

// The settings file as the loop last saw it (absent: none seen), and whether a reading of the
// file differs from it: another last-write time, size or inode.
FileIdentity seenSettingsIdentity();
bool differsFromSeen(const FileIdentity& file);
// The identity the change poll compares against from now on (one that does not exist: none).
void rememberSeenSettings(const FileIdentity& identity);
// Makes the next pass reload the file, for a change the poll cannot see.
void forgetSeenSettings();
