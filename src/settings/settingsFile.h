#pragma once
// The settings file "Nubilo.ini": its default writer and its loader.

#include <cstdint>
#include <string>
#include <vector>

#include "settings/catalogue.h"

extern const std::string settingsPath;

// The copy kept of a file the loader found unusable, before defaults replace it.
extern const std::string settingsBackupPath;

void writeDefaultSettings();

// Reads the settings file: returns every weather's minutes, appends the marked lines' indexes in
// file order and sets startIndex as the file says. Writes defaults when no file is usable.
IntervalMap loadSettings(std::int32_t& startIndex, std::vector<std::int32_t>& markedIndexes);
