#pragma once
// The cycle step, and the star's life in the settings file.

#include <cstdint>
#include <vector>

#include "settings/catalogue.h"
#include "settings/fileAccess.h"

void advanceCycle();
std::int32_t findStarIndex();
bool validateSettings();
// Moves the file's single star to the current position. Says how the write went: busy when
// another program holds the file (nothing written, to be tried again).
ReplaceOutcome updateSettingsStar(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers);
