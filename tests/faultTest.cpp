// Faults around the files: nothing crashes, nothing the user wrote is lost, and the log says
// what happened.
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "cycle/mainLoop.h"
#include "settings/settingsFile.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"

namespace fs = std::filesystem;

namespace {

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double secondsFor(const std::function<void()>& work) {
    const auto started = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

using Faults = ScratchTest;

TEST_F(Faults, SettingsPathIsADirectory) {
    fs::create_directory("Nubilo.ini");
    startPlugin(1);
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                  "[Nubilo] ERROR: Could not save unusable Weather.ini as Nubilo.ini.bak; defaults not written.",
                  "[Nubilo] Applied weather: Clear"}));
    runFor(60, 100);
    EXPECT_EQ(logMessages().size(), 3u);  // no reload pass after pass
    runFor(1800, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Clear");
    EXPECT_TRUE(fs::is_directory("Nubilo.ini"));
}

TEST_F(Faults, AnUnreadableFileIsNotMissingAndIsLoadedOnceItCanBeRead) {
    asUnprivileged([] {
        // The unprivileged user's own file, so that it can make it readable again.
        writeFile("Nubilo.ini", "Set Rain Time = 7*\n");
        fs::permissions("Nubilo.ini", fs::perms::none);
        startPlugin(1);
        // Not missing: no "not found", no defaults written; the cycle runs on the defaults in
        // memory, the file is tried every second and said once it has stayed unreadable 5 s.
        for (int second = 1; second < 5; ++second) runFor(1, 3);
        const std::vector<std::string> started = {"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                  "[Nubilo] Applied weather: Clear"};
        EXPECT_EQ(logMessages(), started);
        const std::string inUse = "[Nubilo] ERROR: Weather.ini is in use by another program or cannot be read; trying again.";
        runFor(1, 1);
        EXPECT_EQ(logMessages(), (std::vector<std::string>{started[0], started[1], inUse}));
        for (int second = 6; second < 65; ++second) runFor(1, 1);
        EXPECT_EQ(logMessages().size(), 3u);
        runFor(1, 1);  // a minute since it was said
        EXPECT_EQ(logMessages(), (std::vector<std::string>{started[0], started[1], inUse, inUse}));
        // Readable again: loaded at the next try, and the star's rewrite keeps its minutes.
        fs::permissions("Nubilo.ini", fs::perms::owner_read | fs::perms::owner_write);
        runFor(1, 1);
        EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Rain"}));
        runFor(7 * 60, 1);
        std::vector<int> minutes(10, 30);
        minutes[0] = 7;
        EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(minutes, 1));
        EXPECT_FALSE(fs::exists("Nubilo.ini.bak"));
    });
}

TEST_F(Faults, AFileUnreadableWhenTheStepIsDueIsBusyAndTheStepIsTriedAgain) {
    asUnprivileged([] {
        // Held at the due step's reads (a sync client, a scanner): not a file without a star --
        // no "Could not open", no "default is used", the weather not applied again -- but busy:
        // tried again 1, then 2 seconds later, quietly, and the star moves once the file can be read.
        writeFile("Nubilo.ini", canonicalText(std::vector<int>(10, 1), 4));
        startPlugin(1);
        const std::size_t first = logMessages().size();
        fs::permissions("Nubilo.ini", fs::perms::none);
        runFor(60, 1);
        runFor(1, 1);
        EXPECT_EQ(logMessages().size(), first);
        fs::permissions("Nubilo.ini", fs::perms::owner_read | fs::perms::owner_write);
        runFor(2, 2);  // the second busy try asked for a pause of 2 s
        const std::vector<std::string> messages = logMessages();
        ASSERT_GT(messages.size(), first);
        EXPECT_EQ(messages[first], "[Nubilo] Weather.ini updated. New star: Clear");
        EXPECT_EQ(appliedWeathers(messages), (std::vector<std::string>{"Fog", "Clear"}));
    });
}

TEST_F(Faults, ReadOnlyFolderRunsOnDefaultsWithoutRetryingEveryPass) {
    writeFile("Weather.txt", "");
    fs::permissions("Weather.txt", fs::perms::all);
    fs::permissions(scratch, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                 fs::perms::others_exec);
    asUnprivileged([] {
        startPlugin(1);
        runFor(60, 200);
        EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                           "[Nubilo] Weather.ini not found, using defaults.",
                                                           "[Nubilo] ERROR: Could not write default Weather.ini",
                                                           "[Nubilo] Applied weather: Clear"}));
        EXPECT_FALSE(fs::exists("Nubilo.ini"));
    });
    fs::permissions(scratch, fs::perms::all);
}

TEST_F(Faults, ReadOnlyFileKeepsItsStarAndTheWeatherStays) {
    writeFile("Nubilo.ini", defaultSettingsText());
    fs::permissions("Nubilo.ini", fs::perms::owner_read | fs::perms::others_read);
    asUnprivileged([] {
        startPlugin(1);
        runFor(1800, 3);
        std::vector<std::string> messages = logMessages();
        ASSERT_EQ(messages.size(), 4u);
        EXPECT_EQ(messages[3], "[Nubilo] ERROR: Could not update Weather.ini with new star.");
        EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    });
}

TEST_F(Faults, UnwritableLogDropsLinesAndTheCycleGoesOn) {
    for (bool asDirectory : {true, false}) {
        substituteReset();
        resetCycle();
        fs::remove_all("Weather.txt");
        writeFile("Nubilo.ini", defaultSettingsText());
        if (asDirectory) {
            fs::create_directory("Weather.txt");
            startPlugin(1);
            runFor(1800, 2);
        } else {
            writeFile("Weather.txt", "");
            fs::permissions("Weather.txt", fs::perms::owner_read | fs::perms::others_read);
            fs::permissions("Nubilo.ini", fs::perms::all);
            asUnprivileged([] {
                startPlugin(1);
                runFor(1800, 2);
                EXPECT_EQ(readFile("Weather.txt"), "");
                EXPECT_EQ(substituteHost.nativeCalls.size(), 8u);
            });
        }
        EXPECT_EQ(readFile("Nubilo.ini"), canonicalText(std::vector<int>(10, 30), 6)) << asDirectory;
        if (asDirectory) {
            EXPECT_EQ(substituteHost.nativeCalls.size(), 8u);  // Clear, then Snow
        }
    }
}

TEST_F(Faults, SymbolicLinkStaysAndTheCycleFollowsItsTarget) {
    fs::create_directory("profiles");
    writeFile("profiles/winter.ini", defaultSettingsText());
    fs::create_symlink("profiles/winter.ini", "Nubilo.ini");
    startPlugin(1);
    runFor(1800, 1);
    runFor(1, 1);
    EXPECT_TRUE(fs::is_symlink("Nubilo.ini"));
    EXPECT_EQ(readFile("profiles/winter.ini"), canonicalText(std::vector<int>(10, 30), 6));
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Snow");
    EXPECT_EQ(std::distance(fs::directory_iterator("profiles"), fs::directory_iterator()), 1);
}

TEST_F(Faults, HugeFilesTakeBoundedTimeAndMemory) {
    struct Case {
        const char* what;
        std::string text;
        double seconds;
    };
    std::string manyLines;
    while (manyLines.size() < 10u << 20) manyLines += "Set Rain Time = 5 ; filler filler\n";
    std::string oneLine = "Set Rain Time = 9 ; " + std::string(1u << 20, 'x') + "\n";
    std::string manyStars = "Set Fog Time = 3" + std::string(1u << 20, '*') + "\n";
    std::string manyRejected;  // every line logged: the slowest file there is, about 3 s here
    while (manyRejected.size() < 10u << 20) manyRejected += "Set Rain Time = x ; filler filler\n";
    manyRejected += "Set Fog Time = 4\n";
    const Case cases[] = {{"10 MB of lines", manyLines, 5.0},
                          {"a 1 MB line", oneLine, 1.0},
                          {"1 MB of marks", manyStars, 1.0},
                          {"10 MB of rejected lines", manyRejected, 60.0}};
    for (const Case& c : cases) {
        writeFile("Nubilo.ini", c.text);
        [[maybe_unused]] const long peakBefore = peakKilobytes();
        std::int32_t startIndex = 0;
        std::vector<std::int32_t> marked;
        IntervalMap intervals;
        const double seconds = secondsFor([&] { intervals = loadSettings(startIndex, marked); });
        EXPECT_LT(seconds, c.seconds) << c.what;
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's quarantine keeps freed memory resident on purpose
        EXPECT_LT(peakKilobytes() - peakBefore, 64 * 1024) << c.what;
#endif
        EXPECT_EQ(intervals.size(), 10u);
        EXPECT_EQ(readFile("Nubilo.ini").size(), c.text.size()) << c.what;  // usable: left alone
        std::printf("%s: loaded in %.3f s\n", c.what, seconds);
    }
}

TEST_F(Faults, BinaryGarbageNeverStopsTheLoop) {
    std::mt19937 random(20261208);
    std::string garbage(4096, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    writeFile("Nubilo.ini", garbage);
    startPlugin(1);
    EXPECT_EQ(readFile("Nubilo.ini.bak"), garbage);
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    for (int round = 0; round < 20; ++round) {
        for (char& c : garbage) c = static_cast<char>(random() % 4 == 0 ? '*' : random());
        writeFile("Nubilo.ini", garbage);
        runFor(900, 2);
    }
    EXPECT_EQ(substituteHost.passes, 41u);
}

TEST_F(Faults, ClockJumpsBackAndFarForward) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    runFor(-86400LL * 365, 2);  // set back a year: due at once, then measured from there
    runFor(1799, 2);
    runFor(10LL * 365 * 86400, 2);  // ten years on: one step, not a backlog of them
    runFor(1, 5);
    const std::vector<std::string> applied = appliedWeathers(logMessages());
    EXPECT_EQ(applied, (std::vector<std::string>{"Clear", "Snow", "Wind"}));
}
