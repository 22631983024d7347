#pragma once
// The cycle step, and the star's life in the settings file.

#include <cstdint>
#include <vector>

#include "settings/catalogue.h"
#include "settings/fileAccess.h"

// The cycle step: when the interval is up, the star's file work is started off the fibre; its
// result (the star's road, or else the custom cycle or the default road) is taken by the first
// pass that finds it finished, or at once where the job ran at once.
void advanceCycle();

// The roads without a single star: the custom cycle steps in memory, or the default road.
void stepWithoutStar(std::int64_t now);

// Takes the result of the star's file work once it is finished: its log lines and its effect on
// the cycle, as if it had run on the fibre. False while it still runs.
bool takeStarRewrite();
std::int32_t findStarIndex();
bool validateSettings();
// Moves the file's single star to the current position. Says how the write went: busy when
// another program holds the file (nothing written, to be tried again).
ReplaceOutcome updateSettingsStar(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers);
