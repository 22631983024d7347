#pragma once
// The script's main loop: start-up, then one pass per script tick, for ever.

#include "settings/settingsFile.h"

[[noreturn]] void runCycleLoop();

// Loads the settings and takes them into the cycle state, then applies the weather they name.
// A deferred load (an unusable file while running) changes nothing and applies nothing.
SettingsLoad adoptSettings(UnusableFile unusable = UnusableFile::replace);

// The loop's two halves, apart so that tools and tests can drive them without the host's wait.
// Neither throws: a failure inside becomes one log line.
void startCycle() noexcept;
void runCyclePass() noexcept;

// Whether the loaded file is unusable and left alone until it has stayed unchanged settleSeconds.
bool settingsSettling();

// Puts the whole cycle back as at module load -- its state, the reload's bookkeeping and the star
// step's -- for tests and tools that start it anew. Never while a step's work runs.
void resetCycle();
