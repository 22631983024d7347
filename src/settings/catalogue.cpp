#include "settings/catalogue.h"

const std::vector<WeatherEntry> weatherCatalogue = {
    {"Rain", "RAIN"},      {"Thunder", "THUNDER"}, {"Cloudy", "OVERCAST"},   {"Dust Storms", "SANDSTORM"},
    {"Fog", "FOG"},        {"Clear", "SUNNY"},     {"Snow", "SNOW"},         {"Wind", "STORM"},
    {"Snowlight", "SNOWLIGHT"}, {"Blizzard", "BLIZZARD"},
};

std::string settingsKey(const WeatherEntry& entry) { return "Set " + entry.displayName + " Time"; }

const std::string& displayNameOf(const std::string& gameName) {
    for (const WeatherEntry& entry : weatherCatalogue)
        if (entry.gameName == gameName) return entry.displayName;
    return gameName;
}
