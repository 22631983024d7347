// The real script loop in a child process rewrites the settings file over and over; the parent
// kills it with SIGKILL at random moments. After every kill the file must be whole -- byte for
// byte the content before or after a rewrite -- and a fresh start must load it as it is.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

#include "cycle/cycleState.h"
#include "settings/settingsFile.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"

namespace fs = std::filesystem;

using Crash = ScratchTest;

TEST_F(Crash, KillsAtAnyMomentLeaveTheOldOrTheNewFile) {
    const char* configured = std::getenv("NUBILO_CRASH_KILLS");
    const int kills = configured != nullptr ? std::atoi(configured) : 500;
    const std::vector<int> oneMinute(10, 1);
    std::set<std::string> whole;
    for (int star = 0; star < 10; ++star) whole.insert(canonicalText(oneMinute, star));
    writeFile("Nubilo.ini", canonicalText(oneMinute, 5));

    std::mt19937 random(20261208);
    int insideWrite = 0, afterStart = 0;
    std::set<std::string> seen;
    for (int kill = 0; kill < kills; ++kill) {
        std::fflush(nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Every pass is a minute: one pass rewrites the star, the next reloads it.
            substituteReset();
            substituteHost.recordNatives = false;
            substituteHost.advancePerPass = 60;
            cycleState = initialCycleState();
            substituteAttach(testModule());
            substituteRunPasses(~std::uint64_t{0});
            _exit(0);
        }
        usleep(static_cast<useconds_t>(random() % 4000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the loop ended by itself";

        const std::string content = readFile("Nubilo.ini");
        ASSERT_TRUE(whole.count(content)) << "kill " << kill << " left a torn file:\n" << content;
        seen.insert(content);
        if (fs::exists("Nubilo.ini.tmp")) {
            ++insideWrite;  // killed between writing the temporary and renaming it
            fs::remove("Nubilo.ini.tmp");
        }
        if (fs::exists("Weather.txt") && readFile("Weather.txt").find("New star") != std::string::npos) ++afterStart;

        fs::remove("Weather.txt");
        std::int32_t startIndex = 0;
        std::vector<std::int32_t> marked;
        loadSettings(startIndex, marked);
        ASSERT_EQ(logMessages().size(), 1u) << "kill " << kill << ": " << joinLines(logMessages());
        ASSERT_EQ(marked.size(), 1u);
        ASSERT_EQ(readFile("Nubilo.ini"), content);
    }
    std::printf("%d kills: %d inside a write, %d after at least one rewrite; %zu of the 10 star positions seen\n",
                kills, insideWrite, afterStart, seen.size());
    EXPECT_GT(afterStart, kills / 2);  // most kills came while the loop was rewriting for real
}
