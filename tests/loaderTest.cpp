// loadSettings on real files: each outcome with its log lines, the default writer, and the
// backup that keeps a user's unusable file.
#include <sys/stat.h>

#include <filesystem>

#include "settings/settingsFile.h"
#include "testSupport.h"

namespace fs = std::filesystem;

namespace {

struct Loaded {
    IntervalMap intervals;
    std::int32_t startIndex = 0;
    std::vector<std::int32_t> marked;
};

Loaded load() {
    Loaded loaded;
    loaded.intervals = loadSettings(loaded.startIndex, loaded.marked);
    return loaded;
}

void expectDefaults(const Loaded& loaded) {
    ASSERT_EQ(loaded.intervals.size(), 10u);
    for (const auto& [name, minutes] : loaded.intervals) EXPECT_EQ(minutes, 30) << name;
    EXPECT_EQ(loaded.startIndex, 5);
    EXPECT_TRUE(loaded.marked.empty());
}

std::string allValues(const std::string& value) {
    std::string text = "[Settings]\n";
    for (const WeatherEntry& entry : weatherCatalogue) text += settingsKey(entry) + " = " + value + " ; x\n";
    return text;
}

}  // namespace

using Loader = ScratchTest;

TEST_F(Loader, MissingFileGivesDefaultsAndWritesTheDefaultFile) {
    Loaded loaded = load();
    expectDefaults(loaded);
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Weather.ini not found, using defaults.",
                                                       "[Nubilo] Default Weather.ini written."}));
    EXPECT_FALSE(fs::exists("Nubilo.ini.bak"));
    EXPECT_FALSE(fs::exists("Nubilo.ini.nubilo-tmp"));

    // Read back, the written file is the star on Clear and 30 everywhere.
    Loaded again = load();
    EXPECT_EQ(again.marked, (std::vector<std::int32_t>{5}));
    EXPECT_EQ(again.startIndex, 5);
    EXPECT_EQ(logMessages().back(), "[Nubilo] single index at 5.");
}

TEST_F(Loader, ReadsMinutesMarksAndStarFromAUserFile) {
    writeFile("Nubilo.ini",
              "\xEF\xBB\xBF[Settings]\r\n"  // byte-order mark and CR LF, as Windows editors save
              "Set Rain Time = 45* ; rain\r\n"
              "Set Fog Time = 1441** ; too long\r\n"
              "Set Fog Time = 12** \r\n"
              "Set Wind Time = 5");
    Loaded loaded = load();
    EXPECT_EQ(loaded.intervals.at("Rain"), 45);
    EXPECT_EQ(loaded.intervals.at("Fog"), 12);
    EXPECT_EQ(loaded.intervals.at("Wind"), 5);
    EXPECT_EQ(loaded.intervals.at("Clear"), 30);
    EXPECT_EQ(loaded.marked, (std::vector<std::int32_t>{0, 4}));
    EXPECT_EQ(loaded.startIndex, 0);
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Invalid value for key Set Fog Time, using default.",
                                                       "[Nubilo] Custom weather cycle detected."}));
}

TEST_F(Loader, UsableFileWithoutMarksStartsFromClear) {
    writeFile("Nubilo.ini", "Set Snow Time = 3\n");
    Loaded loaded = load();
    EXPECT_EQ(loaded.startIndex, 5);
    EXPECT_TRUE(loaded.marked.empty());
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] No custom cycle marked. Starting from Clear."}));
    EXPECT_EQ(readFile("Nubilo.ini"), "Set Snow Time = 3\n");
}

TEST_F(Loader, EmptyFileIsReplacedWithoutABackup) {
    writeFile("Nubilo.ini", "");
    expectDefaults(load());
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    EXPECT_FALSE(fs::exists("Nubilo.ini.bak"));
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Default Weather.ini written."}));
}

TEST_F(Loader, UnusableFileIsBackedUpByteForByteBeforeDefaults) {
    const std::string headerOnly = "[Settings]\r\n; my notes \x01\xFF\n";
    writeFile("Nubilo.ini.bak", "an older backup");
    writeFile("Nubilo.ini", headerOnly);
    expectDefaults(load());
    EXPECT_EQ(readFile("Nubilo.ini.bak"), headerOnly);
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{"[Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.",
                                        "[Nubilo] Default Weather.ini written."}));
}

TEST_F(Loader, EveryValueInvalidLogsEachLineThenBacksUp) {
    const std::string zeros = allValues("0");
    writeFile("Nubilo.ini", zeros);
    expectDefaults(load());
    std::vector<std::string> expected;
    for (const WeatherEntry& entry : weatherCatalogue)
        expected.push_back("[Nubilo] Invalid value for key " + settingsKey(entry) + ", using default.");
    expected.push_back("[Nubilo] Unusable Weather.ini saved as Nubilo.ini.bak before writing defaults.");
    expected.push_back("[Nubilo] Default Weather.ini written.");
    EXPECT_EQ(logMessages(), expected);
    EXPECT_EQ(readFile("Nubilo.ini.bak"), zeros);
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
}

TEST_F(Loader, UnusableFileStaysWhenNoBackupCanBeWritten) {
    const std::string garbage = "Set Rain Time = soon\n";
    writeFile("Nubilo.ini", garbage);
    fs::create_directory("Nubilo.ini.bak");  // in the way of the copy
    expectDefaults(load());
    EXPECT_EQ(readFile("Nubilo.ini"), garbage);
    EXPECT_EQ(logMessages(),
              (std::vector<std::string>{
                  "[Nubilo] Invalid value for key Set Rain Time, using default.",
                  "[Nubilo] ERROR: Could not save unusable Weather.ini as Nubilo.ini.bak; defaults not written."}));
}

TEST_F(Loader, DefaultWriterReportsAFailedOpen) {
    fs::create_directory("Nubilo.ini");
    writeDefaultSettings();
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] ERROR: Could not write default Weather.ini"}));
    EXPECT_TRUE(fs::is_directory("Nubilo.ini"));
}
