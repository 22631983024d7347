// advanceCycle on its own: the timer test and the three roads, against real files; the rewrite
// only over a file a load read; the holds that make a step wait and what they say.
#include <filesystem>

#include "cycle/advance.h"
#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "fileAccess/fileAccess.h"
#include "fileAccess/fileAccessPlatform.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"

namespace fs = std::filesystem;

namespace {

// Loads the file into the cycle state as a reload would, with the log emptied afterwards.
void adopt(const std::string& text) {
    writeFile("Nubilo.ini", text);
    adoptSettings();
    std::filesystem::remove("Weather.txt");
    substituteHost.nativeCalls.clear();
}

void advanceAfter(std::int64_t seconds) {
    substituteHost.clock = cycleState.lastChangeTime + seconds;
    advanceCycle(settingsSettling());
}

std::string starOn(const char* name) { return "[Nubilo] Weather.ini updated. New star: " + std::string(name); }

}  // namespace

using Advance = ScratchTest;

TEST_F(Advance, RewriteKeepsLoadedMinutesAndDropsEverythingElse) {
    adopt("; my notes\n"
          "[Other]\n"
          "set rain time = 5\n"
          "Set Rain Time = 45\n"
          "Set Fog Time = x\n"
          "Set Fog Time = 30 ; *\n"  // the one star, in an inline comment
          "Unknown = 3\n");
    EXPECT_EQ(cycleState.currentPosition, 5);  // no mark: catalogue order from Clear
    substituteHost.clock = cycleState.lastChangeTime + 1800;
    advanceCycle(settingsSettling());
    std::vector<int> minutes(10, 30);
    minutes[0] = 45;
    EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(minutes, 5));  // the star after Fog: Clear
    EXPECT_EQ(logMessages(), (std::vector<std::string>{starOn("Clear")}));
}

TEST_F(Advance, TwoStarredLinesTakeTheDefaultRoadAndRewriteNothing) {
    const std::string text = "Set Rain Time = 1*\nSet Fog Time = 1* ; x\n";
    writeFile("Nubilo.ini", text);
    adoptSettings();
    // A custom cycle takes its own road...
    ASSERT_TRUE(cycleState.customActive);
    fs::remove("Weather.txt");
    ASSERT_EQ(cycleState.currentPosition, 1);  // Fog, the last single star
    advanceAfter(60);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Rain"}));

    // ...and without one the weather showing is applied again.
    cycleState.customActive = false;
    cycleState.customCycle.clear();
    cycleState.currentPosition = 2;
    fs::remove("Weather.txt");
    advanceAfter(1800);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"default is used", "[Nubilo] Applied weather: Cloudy"}));
    EXPECT_EQ(readFile("Nubilo.ini"), text);
    EXPECT_EQ(cycleState.currentPosition, 2);
}

TEST_F(Advance, AStarCountAboveOneBlocksTheRewrite) {
    for (const std::string& text : {std::string("Set Clear Time = 30** ; x\n"),
                                   std::string("; a * here\nSet Clear Time = 30* ; x\n")}) {
        adopt(text);
        const std::int64_t before = writeTimeOf("Nubilo.ini");
        advanceAfter(1800);
        EXPECT_EQ(readFile("Nubilo.ini"), text);
        EXPECT_EQ(writeTimeOf("Nubilo.ini"), before);
        EXPECT_TRUE(logMessages().empty()) << text;
        EXPECT_TRUE(substituteHost.nativeCalls.empty()) << text;
        EXPECT_EQ(cycleState.currentPosition, 6) << text;  // moved in memory all the same
    }
}

TEST_F(Advance, NoStarAnywhereReappliesTheWeatherShowing) {
    const std::string text = "Set Thunder Time = 2\n";
    adopt(text);
    for (int due = 0; due < 3; ++due) advanceAfter(1800);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"default is used", "[Nubilo] Applied weather: Clear",
                                                       "default is used", "[Nubilo] Applied weather: Clear",
                                                       "default is used", "[Nubilo] Applied weather: Clear"}));
    EXPECT_EQ(readFile("Nubilo.ini"), text);
    EXPECT_EQ(cycleState.currentPosition, 5);
}

TEST_F(Advance, ALoneStarOffTheSettingLinesIsWrittenOntoTheWeatherShowing) {
    adopt("; star * here\nSet Rain Time = 10\n");
    advanceAfter(1800);
    std::vector<int> minutes(10, 30);
    minutes[0] = 10;
    EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(minutes, 5));
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"default is used", starOn("Clear"),
                                                       "[Nubilo] Applied weather: Clear"}));
}

TEST_F(Advance, CustomCycleWrapsFromItsLastEntryWithoutWriting) {
    adopt("Set Rain Time = 1**\nSet Fog Time = 1**\nSet Snow Time = 1*\n");
    ASSERT_EQ(cycleState.currentPosition, 2);
    const std::int64_t before = writeTimeOf("Nubilo.ini");
    advanceAfter(60);
    EXPECT_EQ(cycleState.currentPosition, 0);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Rain"}));
    EXPECT_EQ(writeTimeOf("Nubilo.ini"), before);
    EXPECT_FALSE(fs::exists("Nubilo.ini.nubilo-tmp"));
}

TEST_F(Advance, NoRewriteGoesOverAFileNoLoadHasRead) {
    const std::string text = defaultSettingsText();
    adopt(text);
    // The file as a path query sees it, without the content a load read: the rewrite is refused
    // and a reload asked for.
    FileIdentity seen;
    ASSERT_TRUE(queryFileIdentity("Nubilo.ini", seen));
    cycleState.settingsWriteTime = seen;
    advanceAfter(1800);
    EXPECT_EQ(readFile("Nubilo.ini"), text);
    EXPECT_TRUE(logMessages().empty());
    EXPECT_FALSE(seenSettingsIdentity().exists);
}

// A file held by another program: said only once held 5 s, then once a minute (counted across
// holds); tried again after the wait on the monotonic clock, or at once after a clock set back.
using Holds = ScratchTest;

TEST_F(Holds, AreSaidOnlyOnceTheyLastThenAtMostOnceAMinute) {
    FileHold hold;
    std::int64_t& now = substituteHost.monotonicMilliseconds;
    EXPECT_FALSE(holdMet(hold, 1000));
    now += 4999;
    EXPECT_FALSE(holdMet(hold, 1000));
    now += 1;
    EXPECT_TRUE(holdMet(hold, 1000));  // held 5 s
    now += 59999;
    EXPECT_FALSE(holdMet(hold, 1000));
    now += 1;
    EXPECT_TRUE(holdMet(hold, 1000));  // a minute since it was said
    // A new hold waits its 5 s again, and the minute since the last line still counts.
    holdEnded(hold);
    now += 1000;
    EXPECT_FALSE(holdMet(hold, 1000));
    now += 4999;
    EXPECT_FALSE(holdMet(hold, 1000));
    now += 1;
    EXPECT_FALSE(holdMet(hold, 1000));  // held 5 s, but said 6 s ago
    now += 54000;
    EXPECT_TRUE(holdMet(hold, 1000));
}

TEST_F(Holds, WaitOnTheMonotonicClockAndNotAtAllAfterTheClockIsSetBack) {
    FileHold hold;
    EXPECT_FALSE(holdWaits(hold, substituteHost.clock));  // no hold: nothing to wait for
    holdMet(hold, 1000);
    substituteJumpClock(3600);  // a clock set forward is no time waited
    EXPECT_TRUE(holdWaits(hold, substituteHost.clock));
    substituteHost.monotonicMilliseconds += 999;
    EXPECT_TRUE(holdWaits(hold, substituteHost.clock));
    substituteHost.monotonicMilliseconds += 1;
    EXPECT_FALSE(holdWaits(hold, substituteHost.clock));
    holdMet(hold, 1000);
    substituteJumpClock(-1);  // set back: the moment to try again
    EXPECT_FALSE(holdWaits(hold, substituteHost.clock));
    holdEnded(hold);
    EXPECT_FALSE(holdWaits(hold, substituteHost.clock));
}

TEST_F(Holds, AReloadEndsABusyHoldSoTheNextStepWaitsItsOwnFiveSeconds) {
    asUnprivileged([] {
        // A step met the file busy; before its retry the player saved, and the reload made the
        // step no longer due. A minute later a reader's moment at the next step is a new hold,
        // quiet for its own 5 s, not the old one's minute: nothing is said.
        const auto readable = fs::perms::owner_read | fs::perms::owner_write;
        writeFile("Nubilo.ini", canonicalText(std::vector<int>(10, 1), 4));
        startPlugin(1);
        fs::permissions("Nubilo.ini", fs::perms::none);
        runFor(60, 1);  // due, and held
        fs::permissions("Nubilo.ini", readable);
        writeFile("Nubilo.ini", canonicalText(std::vector<int>(10, 1), 6));
        runFor(0, 1);  // the reload: Snow, from now
        const std::size_t before = logMessages().size();
        fs::permissions("Nubilo.ini", fs::perms::none);
        runFor(60, 1);  // due again, and held
        EXPECT_EQ(logMessages().size(), before);
        fs::permissions("Nubilo.ini", readable);
        runFor(1, 1);  // tried again a second on: the step was held, not done
        const std::vector<std::string> messages = logMessages();
        ASSERT_EQ(messages.size(), before + 1);
        EXPECT_EQ(messages[before], starOn("Wind"));
    });
}

// A busy file is asked again after 1, 2, 4 ... seconds, never more than a minute apart, however
// long it stays busy.
TEST(RetryDelay, DoublesFromOneSecondUpToAMinute) {
    std::vector<std::int64_t> delays;
    for (std::int32_t tries = 1; tries <= 9; ++tries) delays.push_back(retryDelaySeconds(tries));
    EXPECT_EQ(delays, (std::vector<std::int64_t>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
    EXPECT_EQ(retryDelaySeconds(1000000), 60);
    // A hold's own pauses follow it, and start again at a second once it has ended.
    FileHold hold;
    for (int tries = 0; tries < 3; ++tries) holdMet(hold, busyRetryMilliseconds(hold));
    EXPECT_EQ(busyRetryMilliseconds(hold), 8000);
    holdEnded(hold);
    EXPECT_EQ(busyRetryMilliseconds(hold), 1000);
}
