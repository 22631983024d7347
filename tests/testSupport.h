#pragma once
// Shared ground for the tests: each test runs in a scratch directory of its own, with the
// substitute host reset, the cycle state as at module load and local time set to UTC.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host/hostApi.h"

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path scratch;
    std::filesystem::path previous;
};

// The module handle the tests attach with.
HostModule testModule();

// The default settings file as a player finds it, line by line from the layout.
std::string defaultSettingsText();

// A canonical file with the given minutes and a star on one index (-1 for none).
std::string canonicalText(const std::vector<int>& minutes, int star);

std::string readFile(const std::string& path);

// Writes the file and gives it a last-write time no earlier write in this test had, so the
// change poll sees every write however fast they come.
void writeFile(const std::string& path, const std::string& content);
void touchFile(const std::string& path);
std::int64_t writeTimeOf(const std::string& path);
void setWriteTime(const std::string& path, std::int64_t nanoseconds);

// The log's messages with the timestamps taken off; each line's layout is checked on the way.
std::vector<std::string> logMessages();

// Attaches the plug-in to the substitute host and runs the given number of script passes
// (the first includes start-up).
void startPlugin(std::uint64_t passes = 1);

// Moves the clock and runs passes.
void runFor(std::int64_t seconds, std::uint64_t passes = 1);

// "[Nubilo] Applied weather: X" messages only, as the list of X.
std::vector<std::string> appliedWeathers(const std::vector<std::string>& messages);

std::string joinLines(const std::vector<std::string>& lines);

// Runs the body as a user whom file permissions bind: as root, in a child process that has
// dropped to "nobody" (its failures fail the calling test); otherwise right here.
void asUnprivileged(const std::function<void()>& body);
