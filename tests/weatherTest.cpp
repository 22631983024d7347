// applyWeather's four native calls, their slots, the wind table and the name it logs.
#include <bit>

#include "settings/catalogue.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"
#include "weather/applyWeather.h"

namespace {

struct Applied {
    std::vector<NativeCall> calls;
    std::string logged;
};

Applied apply(const std::string& gameName) {
    substituteHost.nativeCalls.clear();
    std::filesystem::remove("Weather.txt");
    applyWeather(gameName);
    Applied applied{substituteHost.nativeCalls, {}};
    std::vector<std::string> messages = logMessages();
    if (messages.size() == 1) applied.logged = messages[0];
    return applied;
}

}  // namespace

using Weather = ScratchTest;

TEST_F(Weather, EachCatalogueWeatherMakesFourCallsWithItsOwnWind) {
    const std::uint64_t windBits[] = {0x41200000, 0x42B40000, 0x42480000, 0x431F999A, 0x42480000,
                                      0x00000000, 0x42B40000, 0x42F13333, 0x42B40000, 0x42B40000};
    for (std::size_t i = 0; i < weatherCatalogue.size(); ++i) {
        const WeatherEntry& entry = weatherCatalogue[i];
        Applied applied = apply(entry.gameName);
        ASSERT_EQ(applied.calls.size(), 4u) << entry.gameName;
        EXPECT_EQ(applied.calls[0].hash, nativeGetHashKey);
        EXPECT_EQ(applied.calls[0].hashedName, entry.gameName);
        EXPECT_EQ(applied.calls[1].hash, nativeSetWeatherType);
        EXPECT_EQ(applied.calls[1].args,
                  (std::vector<std::uint64_t>{oneAtATimeHash(entry.gameName.c_str()), 0, 1, 1, 0x41200000, 0}));
        EXPECT_EQ(applied.calls[2].hash, nativeSetWindSpeed);
        EXPECT_EQ(applied.calls[2].args, (std::vector<std::uint64_t>{windBits[i]})) << entry.gameName;
        EXPECT_EQ(applied.calls[3].hash, nativeSetWindDirection);
        EXPECT_EQ(applied.calls[3].args, (std::vector<std::uint64_t>{0}));
        EXPECT_EQ(applied.logged, "[Nubilo] Applied weather: " + entry.displayName);
    }
}

TEST_F(Weather, NamesOutsideTheCatalogueArePassedOnAsWritten) {
    Applied mixedCase = apply("Rain");
    EXPECT_EQ(mixedCase.calls[0].hashedName, "Rain");
    EXPECT_EQ(mixedCase.calls[2].args[0], 0u);
    EXPECT_EQ(mixedCase.logged, "[Nubilo] Applied weather: Rain");

    Applied dust = apply("DUST");
    EXPECT_EQ(dust.calls[2].args[0], 0x431F999Au);
    EXPECT_EQ(dust.logged, "[Nubilo] Applied weather: DUST");
    EXPECT_EQ(std::bit_cast<std::uint32_t>(windSpeedFor("STORM")), 0x42F13333u);
}

TEST_F(Weather, TheLoggedNameComesFromTheCatalogueWhateverTheCycleHolds) {
    // The fixture leaves the cycle state as at load time: nothing read yet.
    EXPECT_EQ(apply("RAIN").logged, "[Nubilo] Applied weather: Rain");
    EXPECT_EQ(displayNameOf("SUNNY"), "Clear");
    EXPECT_EQ(displayNameOf("FOG"), "Fog");
    EXPECT_EQ(displayNameOf("DUST"), "DUST");  // not a game name of the catalogue: shown as given
}
