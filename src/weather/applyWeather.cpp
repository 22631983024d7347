#include "weather/applyWeather.h"

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "host/hostApi.h"
#include "log/log.h"
#include "settings/catalogue.h"

namespace {

// A 32-bit float travels in the low half of a zeroed 64-bit slot.
// (memcpy, not std::bit_cast: the WebAssembly build's library has no bit_cast.)
std::uint64_t floatSlot(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

constexpr std::array<std::pair<std::string_view, float>, 10> windSpeeds = {{
    {"THUNDER", 90.0f},
    {"SNOW", 90.0f},
    {"SNOWLIGHT", 90.0f},
    {"BLIZZARD", 90.0f},
    {"STORM", 120.6f},
    {"DUST", 159.6f},
    {"SANDSTORM", 159.6f},
    {"OVERCAST", 50.0f},
    {"FOG", 50.0f},
    {"RAIN", 10.0f},
}};

}  // namespace

float windSpeedFor(const std::string& gameName) {
    for (const auto& [name, speed] : windSpeeds)
        if (name == gameName) return speed;
    return 0.0f;
}

void applyWeather(const std::string& gameName) {
    nativeInit(nativeGetHashKey);
    nativePush64(reinterpret_cast<std::uint64_t>(gameName.c_str()));
    // Only the low half is the hash; the result must be read before any other host call.
    std::uint32_t weatherHash = static_cast<std::uint32_t>(*nativeCall());

    nativeInit(nativeSetWeatherType);
    nativePush64(weatherHash);
    nativePush64(0);
    nativePush64(1);
    nativePush64(1);
    nativePush64(floatSlot(10.0f));  // transition time in seconds
    nativePush64(0);
    nativeCall();

    writeLog(appliedWeatherMessage(displayNameOf(gameName)));
    applyWindForWeather(gameName);
}

std::string appliedWeatherMessage(const std::string& displayName) { return "[Nubilo] Applied weather: " + displayName; }

void applyWindForWeather(const std::string& gameName) {
    nativeInit(nativeSetWindSpeed);
    nativePush64(floatSlot(windSpeedFor(gameName)));
    nativeCall();
    nativeInit(nativeSetWindDirection);
    nativePush64(0);  // direction 0.0
    nativeCall();
}
