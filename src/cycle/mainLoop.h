#pragma once
// The script's main loop: start-up, then one pass per script tick, for ever.

#include "settings/settingsFile.h"

[[noreturn]] void runCycleLoop();

// Loads the settings and takes them into the cycle state, then applies the weather they name.
// A deferred load (an unusable file while running) changes nothing and applies nothing.
SettingsLoad adoptSettings(UnusableFile unusable = UnusableFile::replace);

// The settings file as the loop last saw it (absent: none seen), and whether a reading of the
// file differs from it: another last-write time, size or inode.
FileIdentity seenSettingsIdentity();
bool differsFromSeen(const FileIdentity& file);
// Makes the next pass reload the file, for a change the poll cannot see.
void forgetSeenSettings();

// The loop's two halves, apart so that tools and tests can drive them without the host's wait.
// Neither throws: a failure inside becomes one log line.
void startCycle() noexcept;
void runCyclePass() noexcept;
