#pragma once
// The ten weathers the plug-in knows, in the order everything else counts them.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct WeatherEntry {
    std::string displayName;  // settings file, interval-map key, log lines
    std::string gameName;     // handed to the game
};

// Display name -> minutes. Ordered byte-wise, as std::less<std::string> does.
using IntervalMap = std::map<std::string, std::int32_t>;

extern const std::vector<WeatherEntry> weatherCatalogue;

// Where the default writer puts the star and where the loader falls back to: "Clear".
constexpr std::int32_t defaultStartIndex = 5;
constexpr std::int32_t defaultMinutes = 30;
constexpr std::int32_t minMinutes = 1;
constexpr std::int32_t maxMinutes = 1440;  // a day

// "Set " + displayName + " Time": the only keys the settings file knows.
std::string settingsKey(const WeatherEntry& entry);

// The display name of the first catalogue weather with this game name; the game name itself for
// a name the catalogue does not hold (the argument, then: keep it no longer than that).
const std::string& displayNameOf(const std::string& gameName);
