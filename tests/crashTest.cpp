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
#include "cycle/mainLoop.h"
#include "fileAccess/fileAccess.h"
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
    int insideWrite = 0;
    std::set<std::string> seen;
    for (int kill = 0; kill < kills; ++kill) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        std::fflush(nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Every pass is a minute: one pass rewrites the star, the next reloads it.
            substituteReset();
            substituteHost.recordNatives = false;
            substituteHost.advancePerPass = 60;
            resetCycle();
            substituteAttach(testModule());
            substituteRunPasses(1);
            if (write(started[1], "!", 1) != 1) _exit(2);
            substituteRunPasses(~std::uint64_t{0});
            _exit(0);
        }
        close(started[1]);
        char signal = 0;
        ASSERT_EQ(read(started[0], &signal, 1), 1) << "the loop did not start";
        close(started[0]);
        usleep(static_cast<useconds_t>(random() % 2000));  // somewhere among the rewrites
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the loop ended by itself";

        const std::string content = readFile("Nubilo.ini");
        ASSERT_TRUE(whole.count(content)) << "kill " << kill << " left a torn file:\n" << content;
        seen.insert(content);
        const bool temporaryLeft = fs::exists(temporaryPath("Nubilo.ini"));
        if (temporaryLeft) ++insideWrite;  // between the temporary and the rename

        // The next start loads the file as it is, leaves nothing of ours behind and says what it removed.
        substituteReset();
        substituteHost.recordNatives = false;
        resetCycle();
        startCycle();
        const std::vector<std::string> messages = logMessages();
        ASSERT_EQ(messages.size(), temporaryLeft ? 4u : 3u) << "kill " << kill << ": " << joinLines(messages);
        if (temporaryLeft) {
            ASSERT_EQ(messages[1], "[Nubilo] Removed Nubilo.ini.nubilo-tmp left by an earlier run.");
        }
        ASSERT_EQ(cycleState.customActive, false);
        ASSERT_EQ(readFile("Nubilo.ini"), content);
        ASSERT_FALSE(fs::exists(temporaryPath("Nubilo.ini"))) << "kill " << kill;
    }
    std::printf("%d kills: %d inside a write (temporary written, not yet renamed); %zu of the 10 star positions seen\n",
                kills, insideWrite, seen.size());
    EXPECT_GT(insideWrite, 0);  // the kills did land where a torn file could have come from
}
