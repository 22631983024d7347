// The real script loop, run pass by pass on the substitute host's fibre with its clock.
//
// Index
//   start-up: defaults written, Clear applied, the old log emptied
//   the star step: off the fibre, due to the second, through the whole catalogue, custom cycles
//   reloads: edits and touches, deletion, saves back to the star, unusable and unfinished files
//   failures: exceptions, failing queries, a position past the cycle, UTF-16, failed and hung rewrites,
//   and what a start removes
//   clocks and holds: a step's wait and the settle time on the monotonic clock, a save unreadable
//   at its reload
#include <filesystem>

#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "fileAccess/fileAccess.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"
#include "weather/applyWeather.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> newSince(const std::vector<std::string>& all, std::size_t from) {
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
}

std::string newStar(const std::string& name) { return "[Nubilo] Weather.ini updated. New star: " + name; }

}  // namespace

using MainLoop = ScratchTest;

TEST_F(MainLoop, StartWithoutFileWritesDefaultsAppliesClearAndDoesNotReload) {
    startPlugin(1);
    EXPECT_EQ(substituteHost.passes, 1u);  // the first pass ran before the first wait
    EXPECT_EQ(substituteHost.lastWaitMilliseconds, 0u);
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());

    const std::string log = readFile("Weather.txt");
    EXPECT_EQ(log.substr(0, 22), "[2023-11-14 22:13:20] ");
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                       "[Nubilo] Weather.ini not found, using defaults.",
                                                       "[Nubilo] Default Weather.ini written.",
                                                       "[Nubilo] Applied weather: Clear"}));

    ASSERT_EQ(substituteHost.nativeCalls.size(), 4u);
    const auto& calls = substituteHost.nativeCalls;
    EXPECT_EQ(calls[0].hash, nativeGetHashKey);
    EXPECT_EQ(calls[0].hashedName, "SUNNY");
    ASSERT_EQ(calls[0].args.size(), 1u);
    EXPECT_EQ(calls[1].hash, nativeSetWeatherType);
    // The hash travels zero-extended: the substitute's non-zero upper half must be gone.
    EXPECT_EQ(calls[1].args, (std::vector<std::uint64_t>{oneAtATimeHash("SUNNY"), 0, 1, 1, 0x41200000, 0}));
    EXPECT_EQ(calls[2].hash, nativeSetWindSpeed);
    EXPECT_EQ(calls[2].args, (std::vector<std::uint64_t>{0}));
    EXPECT_EQ(calls[3].hash, nativeSetWindDirection);
    EXPECT_EQ(calls[3].args, (std::vector<std::uint64_t>{0}));
    EXPECT_FALSE(cycleState.customActive);
    EXPECT_EQ(cycleState.currentPosition, 5);

    runFor(60, 50);
    EXPECT_EQ(logMessages().size(), 4u);
    EXPECT_EQ(substituteHost.nativeCalls.size(), 4u);
    EXPECT_EQ(substituteHost.passes, 51u);
}

TEST_F(MainLoop, StartEmptiesTheLogOfTheLastSession) {
    writeFile("Weather.txt", "[2023-11-13 10:00:00] [Nubilo] Applied weather: Fog\nhalf a line of an old crash");
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                       "[Nubilo] single index at 5.", "[Nubilo] Applied weather: Clear"}));
}

TEST_F(MainLoop, TheStarsFileWorkRunsOffTheFibreAndItsResultIsTakenOnALaterPass) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    substituteHost.holdJobs = true;  // the plug-in's thread, held until the test lets it run
    runFor(1800, 1);
    ASSERT_NE(substituteHost.heldJob, nullptr);
    // While it waits, passes touch neither the file nor the state; a save made meanwhile waits too.
    const std::string save = "Set Fog Time = 12*\n";
    writeFile("Nubilo.ini", save);
    runFor(20, 20);
    EXPECT_EQ(logMessages().size(), 3u);
    EXPECT_EQ(cycleState.currentPosition, 5);
    // The job finds the player's save, not the file the last load read: it writes nothing.
    substituteFinishHeldJob();
    EXPECT_EQ(readFile("Nubilo.ini"), save);
    runFor(0, 1);  // takes the result: nothing to log
    EXPECT_EQ(logMessages().size(), 3u);
    runFor(0, 1);  // reloads the save
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Fog"}));

    // An undisturbed job: taken on the pass after it finished, the reload on the next.
    runFor(12 * 60, 1);
    ASSERT_NE(substituteHost.heldJob, nullptr);
    substituteFinishHeldJob();
    EXPECT_EQ(readFile("Nubilo.ini"), canonicalText({30, 30, 30, 30, 12, 30, 30, 30, 30, 30}, 5));
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Fog");
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), newStar("Clear"));
    runFor(1, 1);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Fog", "Clear"}));
    EXPECT_EQ(substituteHost.heldJob, nullptr);
}

TEST_F(MainLoop, FirstAdvanceComesExactlyAtTheIntervalAndTheReloadAppliesSnow) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                       "[Nubilo] single index at 5.",
                                                       "[Nubilo] Applied weather: Clear"}));
    const std::int64_t started = substituteHost.clock;
    runFor(1799, 5);
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    EXPECT_EQ(logMessages().size(), 3u);

    substituteHost.nativeCalls.clear();
    runFor(1, 1);  // 1800 s after Clear was applied
    EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(std::vector<int>(10, 30), 6));
    EXPECT_EQ(logMessages().back(), newStar("Snow"));
    EXPECT_TRUE(substituteHost.nativeCalls.empty());  // the star road applies nothing itself
    EXPECT_EQ(cycleState.currentPosition, 6);
    EXPECT_EQ(cycleState.lastChangeTime, started + 1800);

    runFor(7, 1);
    EXPECT_EQ(newSince(logMessages(), 4),
              (std::vector<std::string>{"[Nubilo] single index at 6.", "[Nubilo] Applied weather: Snow"}));
    ASSERT_EQ(substituteHost.nativeCalls.size(), 4u);
    EXPECT_EQ(substituteHost.nativeCalls[0].hashedName, "SNOW");
    EXPECT_EQ(substituteHost.nativeCalls[2].args, (std::vector<std::uint64_t>{0x42B40000}));
    EXPECT_FALSE(cycleState.customActive);
    EXPECT_TRUE(cycleState.customCycle.empty());
    EXPECT_EQ(cycleState.lastChangeTime, started + 1807);
}

TEST_F(MainLoop, StarTravelsTheWholeCatalogueWaitingEachWeathersOwnMinutes) {
    std::vector<int> minutes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    writeFile("Nubilo.ini", canonicalText(minutes, 5));
    startPlugin(1);
    std::vector<std::string> stars;
    int showing = 5;
    for (int step = 0; step < 11; ++step) {
        const std::int64_t wait = minutes[static_cast<std::size_t>(showing)] * 60;
        const std::size_t before = logMessages().size();
        runFor(wait - 1, 2);
        ASSERT_EQ(logMessages().size(), before) << "advanced early on step " << step;
        runFor(1, 1);  // rewrite
        runFor(0, 1);  // reload
        showing = (showing + 1) % 10;
        EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(minutes, showing));
        for (const std::string& line : newSince(logMessages(), before)) stars.push_back(line);
    }
    std::vector<std::string> expected;
    int star = 5;
    for (int step = 0; step < 11; ++step) {
        star = (star + 1) % 10;
        const std::string& name = weatherCatalogue[static_cast<std::size_t>(star)].displayName;
        expected.push_back(newStar(name));
        expected.push_back("[Nubilo] single index at " + std::to_string(star) + ".");
        expected.push_back("[Nubilo] Applied weather: " + name);
    }
    EXPECT_EQ(stars, expected);  // Snow ... Blizzard, Rain (the wrap), ... Clear, Snow
}

TEST_F(MainLoop, CustomCycleWithRepeatsStepsInMemoryOnly) {
    writeFile("Nubilo.ini",
              "[Settings]\n"
              "Set Rain Time = 1**\n"
              "Set Fog Time = 2*\n"
              "Set Rain Time = 1**\n");
    const std::int64_t fileTime = writeTimeOf("Nubilo.ini");
    startPlugin(1);
    EXPECT_TRUE(cycleState.customActive);
    EXPECT_EQ(cycleState.customCycle, (std::vector<std::int32_t>{0, 4, 0}));
    EXPECT_EQ(cycleState.currentPosition, 1);  // the star's first position
    runFor(120, 1);
    runFor(60, 1);
    runFor(60, 1);
    runFor(59, 1);
    runFor(1, 1);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Fog", "Rain", "Rain", "Fog"}));
    EXPECT_EQ(logMessages()[1], "[Nubilo] Custom weather cycle detected.");
    EXPECT_EQ(writeTimeOf("Nubilo.ini"), fileTime);
    EXPECT_EQ(cycleState.currentPosition, 1);
}

TEST_F(MainLoop, EditsAndTouchesReloadAndDeletionDoesNot) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);

    writeFile("Nubilo.ini", "Set Fog Time = 2*\n");
    runFor(10, 1);
    EXPECT_EQ(newSince(logMessages(), 3),
              (std::vector<std::string>{"[Nubilo] single index at 4.", "[Nubilo] Applied weather: Fog"}));
    EXPECT_EQ(cycleState.lastChangeTime, substituteHost.clock);

    touchFile("Nubilo.ini");  // same bytes, new time: one reload all the same
    runFor(10, 3);
    EXPECT_EQ(newSince(logMessages(), 5),
              (std::vector<std::string>{"[Nubilo] single index at 4.", "[Nubilo] Applied weather: Fog"}));

    const std::string kept = readFile("Nubilo.ini");
    const std::int64_t keptTime = writeTimeOf("Nubilo.ini");
    fs::rename("Nubilo.ini", "elsewhere.ini");
    runFor(60, 3);
    EXPECT_EQ(logMessages().size(), 7u);  // absent: no reload, no message
    runFor(60, 1);                        // Fog's two minutes are up
    EXPECT_EQ(newSince(logMessages(), 7),
              (std::vector<std::string>{"[Nubilo] ERROR: Could not open Weather.ini to find star index.",
                                        "default is used",
                                        "[Nubilo] ERROR: Could not open Weather.ini for validation.",
                                        "[Nubilo] Applied weather: Fog"}));
    EXPECT_FALSE(fs::exists("Nubilo.ini"));

    fs::rename("elsewhere.ini", "Nubilo.ini");  // back with its old time: no change seen
    EXPECT_EQ(writeTimeOf("Nubilo.ini"), keptTime);
    runFor(1, 3);
    EXPECT_EQ(logMessages().size(), 11u);
    writeFile("Nubilo.ini", kept);
    runFor(1, 1);
    EXPECT_EQ(newSince(logMessages(), 11),
              (std::vector<std::string>{"[Nubilo] single index at 4.", "[Nubilo] Applied weather: Fog"}));
}

TEST_F(MainLoop, SavingReturnsACustomCycleToItsStar) {
    writeFile("Nubilo.ini", "Set Rain Time = 1*\nSet Snow Time = 1**\nSet Fog Time = 1**\n");
    startPlugin(1);
    runFor(60, 1);
    runFor(60, 1);
    EXPECT_EQ(cycleState.currentPosition, 2);
    touchFile("Nubilo.ini");
    runFor(0, 1);
    EXPECT_EQ(cycleState.currentPosition, 0);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Rain", "Snow", "Fog", "Rain"}));
}

TEST_F(MainLoop, AnUnusableFileSeenOnAReloadIsReplacedOnlyOnceItHasSettled) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    // An editor's save truncates first: while the file may still be written, nothing is replaced,
    // nothing is logged and the cycle keeps its state.
    writeFile("Nubilo.ini", "");
    runFor(1, 1);
    writeFile("Nubilo.ini", "[Settings]\n");
    runFor(1, 3);
    runFor(1, 3);
    EXPECT_EQ(logMessages().size(), 3u);
    EXPECT_EQ(readFile("Nubilo.ini"), "[Settings]\n");
    EXPECT_FALSE(fs::exists("Nubilo.ini.bak"));
    EXPECT_TRUE(settingsSettling());
    EXPECT_EQ(cycleState.currentPosition, 5);
    // Two seconds unchanged since the last change: backup, defaults, and one more reload of
    // those defaults, after which the file is stable.
    runFor(1, 1);
    runFor(1, 5);
    EXPECT_EQ(newSince(logMessages(), 3),
              (std::vector<std::string>{"[Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.",
                                        "[Nubilo] Default Weather.ini written.", "[Nubilo] Applied weather: Clear",
                                        "[Nubilo] single index at 5.", "[Nubilo] Applied weather: Clear"}));
    EXPECT_EQ(readFile("Nubilo.ini.bak"), "[Settings]\n");
}

TEST_F(MainLoop, ExceptionsInAPassAreLoggedAndTheLoopGoesOn) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    substituteHost.failNativeCalls = true;
    writeFile("Nubilo.ini", "Set Fog Time = 2*\n");
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] ERROR: substitute host: native call refused");
    runFor(1, 10);
    EXPECT_EQ(substituteHost.passes, 12u);
    substituteHost.failNativeCalls = false;
    touchFile("Nubilo.ini");
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Fog");
}

TEST_F(MainLoop, AFailingFileQueryCountsAsUnchanged) {
    fs::create_symlink("Nubilo.ini", "Nubilo.ini");  // a loop: every query fails, not "not found"
    startPlugin(1);
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                  "[Nubilo] Weather.ini not found, using defaults.",
                  "[Nubilo] ERROR: Could not write default Weather.ini",
                  "[Nubilo] Applied weather: Clear"}));
    runFor(60, 30);
    EXPECT_EQ(logMessages().size(), 4u);
    EXPECT_TRUE(fs::is_symlink("Nubilo.ini"));
    fs::remove("Nubilo.ini");
    writeFile("Nubilo.ini", "Set Rain Time = 3*\n");
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Rain");
}

TEST_F(MainLoop, PositionLeftPastTheCustomCycleIsTakenModuloItsLength) {
    writeFile("Nubilo.ini", "Set Rain Time = 1*\nSet Fog Time = 2*\nSet Snow Time = 3*\n");
    startPlugin(1);
    ASSERT_EQ(cycleState.customCycle, (std::vector<std::int32_t>{0, 4, 6}));
    ASSERT_EQ(cycleState.currentPosition, 2);
    // An edit the poll cannot see (its old last-write time restored, its size the same): one
    // starred setting line, two stars in all, so the star road stores a catalogue index and no
    // rewrite follows.
    const std::int64_t seen = writeTimeOf("Nubilo.ini");
    const std::size_t size = readFile("Nubilo.ini").size();
    auto sameSize = [&](std::string text) { return text + ";" + std::string(size - text.size() - 2, 'x') + "\n"; };
    writeFile("Nubilo.ini", sameSize("Set Wind Time = 1* ; *\n"));
    setWriteTime("Nubilo.ini", seen);
    runFor(180, 1);
    EXPECT_EQ(cycleState.currentPosition, 8);  // past the end of a cycle of three
    EXPECT_EQ(currentCatalogueIndex(cycleState), 6);  // 8 modulo 3: Snow, whose 3 minutes count

    writeFile("Nubilo.ini", sameSize("Set Rain Time = 1*\nSet Fog Time = 1*\n"));
    setWriteTime("Nubilo.ini", seen);
    runFor(179, 1);
    EXPECT_EQ(cycleState.currentPosition, 8);
    runFor(1, 1);
    EXPECT_EQ(cycleState.currentPosition, 0);  // the custom road steps on from 8 modulo 3
    EXPECT_EQ(appliedWeathers(logMessages()).back(), "Rain");
}

TEST_F(MainLoop, AChangeOfSizeAloneIsAChange) {
    writeFile("Nubilo.ini", "Set Rain Time = 5*\n");
    startPlugin(1);
    const std::int64_t seen = writeTimeOf("Nubilo.ini");
    writeFile("Nubilo.ini", "Set Rain Time = 5\nSet Fog Time = 5*\n");
    setWriteTime("Nubilo.ini", seen);  // a truncation and its write in one tick of the clock
    runFor(1, 1);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Rain", "Fog"}));
}

TEST_F(MainLoop, AFileWithoutItsLastLineEndIsTakenOnceItHasSettled) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    runFor(1799, 1);
    // Usable, but cut like a save between two of its writes, and seen on the very pass that
    // Clear's 30 minutes are up: no reload, and the due step writes nothing over it.
    const std::string cut = "Set Rain Time = 5\nSet Fog Time = 5*";
    writeFile("Nubilo.ini", cut);
    runFor(1, 1);
    EXPECT_EQ(readFile("Nubilo.ini"), cut);
    EXPECT_EQ(cycleState.intervals.at("Rain"), 30);
    EXPECT_TRUE(settingsSettling());
    runFor(1, 1);
    EXPECT_TRUE(settingsSettling());
    // Unchanged for the settle time: taken as it is, and not rewritten for it.
    runFor(1, 1);
    EXPECT_EQ(appliedWeathers(logMessages()).back(), "Fog");
    EXPECT_EQ(cycleState.intervals.at("Rain"), 5);
    EXPECT_FALSE(settingsSettling());
    EXPECT_EQ(readFile("Nubilo.ini"), cut);
}

TEST_F(MainLoop, AUtf16FileIsReadAndTheStarRewrittenInAscii) {
    // The default file as Notepad saves it with the "Unicode" encoding: FF FE, then CR LF lines.
    std::string wide = "\xFF\xFE";
    for (char c : std::string(defaultSettingsText())) {
        if (c == '\n') wide += std::string("\r\0", 2);
        wide += c;
        wide += '\0';
    }
    writeFile("Nubilo.ini", wide);
    startPlugin(1);
    runFor(1800, 1);
    EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(std::vector<int>(10, 30), 6));
    EXPECT_FALSE(fs::exists("Nubilo.ini.bak"));
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...", "[Nubilo] single index at 5.",
                                        "[Nubilo] Applied weather: Clear", newStar("Snow")}));
}

TEST_F(MainLoop, AFailedRewriteLeavesNothingForALaterStepToReport) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    fs::create_directory(temporaryPath("Nubilo.ini"));  // no temporary can be made: the rewrite fails
    runFor(1800, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] ERROR: Could not update Weather.ini with new star.");
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    fs::remove(temporaryPath("Nubilo.ini"));

    // Stuck files the step refuses to rewrite: each due step says only its own lines.
    writeFile("Nubilo.ini", "Set Rain Time = 30\n; *\n; *\n");
    runFor(0, 1);  // reload: no starred setting line, two stars: the default road, validation refuses
    for (int step = 0; step < 2; ++step) {
        const std::size_t before = logMessages().size();
        runFor(1800, 1);
        const std::vector<std::string> messages = logMessages();
        EXPECT_EQ(std::vector<std::string>(messages.begin() + static_cast<long>(before), messages.end()),
                  (std::vector<std::string>{"default is used", "[Nubilo] Applied weather: Clear"}));
    }
}

TEST_F(MainLoop, StartRemovesWhatAnInterruptedWriteLeftAndNoFileOfAnotherName) {
    writeFile("Nubilo.ini", defaultSettingsText());
    writeFile(temporaryPath("Nubilo.ini"), "half a temporary");
    writeFile(temporaryPath("Nubilo.ini.bak"), "half a backup");
    fs::create_directory(asidePath("Nubilo.ini"));  // not a file of ours: left alone
    const std::string mine = "the player's own\n";
    for (const char* name : {"Nubilo.ini.old", "Nubilo.ini.tmp", "Nubilo.ini.bak"}) writeFile(name, mine);
    startPlugin(1);
    EXPECT_FALSE(fs::exists(temporaryPath("Nubilo.ini")));
    EXPECT_FALSE(fs::exists(temporaryPath("Nubilo.ini.bak")));
    EXPECT_TRUE(fs::is_directory(asidePath("Nubilo.ini")));
    for (const char* name : {"Nubilo.ini.old", "Nubilo.ini.tmp", "Nubilo.ini.bak"}) EXPECT_EQ(readFile(name), mine) << name;
    // Each removal said once, the backup's first: its pass comes first.
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                        "[Nubilo] Removed Nubilo.ini.bak.nubilo-tmp left by an earlier run.",
                                        "[Nubilo] Removed Nubilo.ini.nubilo-tmp left by an earlier run.",
                                        "[Nubilo] single index at 5.", "[Nubilo] Applied weather: Clear"}));
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
}

TEST_F(MainLoop, AStepThatHangsOnTheDiskIsSaidOnce) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    substituteHost.holdJobs = true;  // a dead network share, say
    runFor(1800, 1);
    runFor(29, 5);
    EXPECT_EQ(logMessages().size(), 3u);
    runFor(1, 1);
    runFor(600, 5);
    const std::vector<std::string> messages = logMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages.back(), "[Nubilo] ERROR: Weather.ini has not answered for 30 seconds; the cycle waits for it.");
    substituteFinishHeldJob();
    runFor(0, 2);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Snow"}));
}

TEST_F(MainLoop, AStepsWaitIsMeasuredOnTheMonotonicClock) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    substituteHost.holdJobs = true;
    runFor(1800, 1);
    // The calendar clock set forward two days at every pass (a resume, a time sync): no waiting.
    for (int pass = 0; pass < 10; ++pass) {
        substituteJumpClock(2 * 86400);
        runFor(0, 1);
    }
    EXPECT_EQ(logMessages().size(), 3u);
    // Set back a month: a step that really hangs is said all the same, after 30 s of waiting.
    substituteJumpClock(-30 * 86400);
    runFor(29, 1);
    EXPECT_EQ(logMessages().size(), 3u);
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] ERROR: Weather.ini has not answered for 30 seconds; the cycle waits for it.");
    substituteFinishHeldJob();
    runFor(0, 2);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Snow"}));
}

TEST_F(MainLoop, ASaveUnreadableAtItsReloadIsNeverWrittenOverAndIsLoadedOnceReadable) {
    asUnprivileged([] {
        writeFile("Nubilo.ini", "Set Rain Time = 7*\n");
        startPlugin(1);
        // The player saves 33 minutes, and another program keeps the file from us over the pass
        // that sees the save: the cycle goes on as it stands, and nothing is said yet.
        const std::string save = "Set Rain Time = 33*\n";
        writeFile("Nubilo.ini", save);
        fs::permissions("Nubilo.ini", fs::perms::none);
        runFor(0, 1);
        EXPECT_EQ(logMessages().size(), 3u);
        EXPECT_EQ(cycleState.intervals.at("Rain"), 7);
        fs::permissions("Nubilo.ini", fs::perms::owner_read | fs::perms::owner_write);
        // Rain's 7 minutes are up before the next try: the save is not written over with minutes
        // it did not give.
        substituteJumpClock(7 * 60);
        runFor(0, 1);
        EXPECT_EQ(readFile("Nubilo.ini"), save);
        runFor(1, 1);  // the next try loads it
        EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Rain", "Rain"}));
        EXPECT_EQ(cycleState.intervals.at("Rain"), 33);
        runFor(33 * 60, 1);
        std::vector<int> minutes(10, 30);
        minutes[0] = 33;
        EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(minutes, 1));
    });
}

TEST_F(MainLoop, AnUnusableFileSettlesOnTheMonotonicClock) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    writeFile("Nubilo.ini", "[Settings]\n");
    runFor(0, 1);  // seen: it may be a save in progress
    // The calendar clock jumps an hour on, then two back: no second of the settle time passes.
    substituteJumpClock(3600);
    runFor(0, 3);
    substituteJumpClock(-7200);
    runFor(0, 3);
    EXPECT_FALSE(fs::exists("Nubilo.ini.bak"));
    runFor(2, 1);
    EXPECT_EQ(readFile("Nubilo.ini.bak"), "[Settings]\n");
}
