#pragma once
// The cycle step, and the star's life in the settings file.

#include <cstdint>
#include <vector>

#include "settings/catalogue.h"

void advanceCycle();
std::int32_t findStarIndex();
bool validateSettings();
void updateSettingsStar(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers);
