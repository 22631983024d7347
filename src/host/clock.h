#pragma once
// The plug-in's two clocks. Calendar time says when a weather's minutes are up and dates the log;
// the monotonic clock measures the plug-in's own waits (a file held by another program, a step
// that takes long), which a clock set back, a time sync or a resume from sleep must not change.
// The shipped plug-in answers both from the system; the substitute host links its own.

#include <cstdint>

// Calendar time in whole seconds since 1970 (UTC): the C library's time().
std::int64_t currentTime() noexcept;

// Milliseconds from an arbitrary start, never going back; time the machine slept is not
// counted (Windows: QueryUnbiasedInterruptTime; POSIX: CLOCK_MONOTONIC).
std::int64_t monotonicMilliseconds() noexcept;
