#pragma once
// Turning a weather's game name into the game's natives: hash, weather type, wind.

#include <cstdint>
#include <string>

// The natives' fixed identifiers.
constexpr std::uint64_t nativeGetHashKey = 0xFD340785ADF8CFB7ull;
constexpr std::uint64_t nativeSetWeatherType = 0x59174F1AFE095B5Aull;
constexpr std::uint64_t nativeSetWindSpeed = 0xD00C2D82DC04A99Full;
constexpr std::uint64_t nativeSetWindDirection = 0xB56C4F5F57A45600ull;

void applyWeather(const std::string& gameName);

// The line applyWeather logs for the weather shown by this name.
std::string appliedWeatherMessage(const std::string& displayName);
void applyWindForWeather(const std::string& gameName);

// The wind speed that belongs to a game name; 0.0 for a name the table does not hold.
float windSpeedFor(const std::string& gameName);
