// Tests that watch the plug-in's calls into the C library. An idle pass of the real loop -- file
// unchanged, interval not due -- allocates nothing, opens no file and makes exactly one
// file-system query (counted, not timed, so the result is stable); and a file replaced between
// the opens of one advance is never torn.
//
// Index
//   the interposed C library calls (operator new, fopen/open, nanosleep, clock_gettime, stat)
//   IdlePass: nothing allocated, opened or queried twice, nor while a file in use waits its retry;
//     a save between lookup and rewrite
//   PlayerSave: saves racing the swap, the first poll, the defaults, the clock tick, a reload, the
//     backup, the judgement of an unusable file
//   StarStepWork: no settings open on the fibre on any road; an exception is the step's failure
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "cycle/cycleState.h"
#include "settings/settingsFile.h"
#include "substitute/substituteHost.h"
#include "testSupport.h"

namespace {
std::atomic<long> allocations{0};
std::atomic<long> opens{0};
std::atomic<long> queries{0};
std::atomic<long> settingsOpens{0};  // of Nubilo.ini and the names beside it
bool failAllocations = false;        // operator new throws, as when memory runs out
std::function<void(const char* path, const char* mode)> beforeOpen;
std::function<void()> beforeSleep;
struct timespec fixedRealTime {};  // what the wall clock says while set; {0, 0}: the real time

template <typename Fn>
Fn real(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
}  // namespace

// Every heap allocation of the program passes here.
void* operator new(std::size_t size) {
    ++allocations;
    if (failAllocations) throw std::bad_alloc();
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

// Every open and every stat of the program passes here on its way to the C library.
extern "C" {
FILE* fopen(const char* path, const char* mode) {
    ++opens;
    if (std::strncmp(path, "Nubilo.ini", 10) == 0) ++settingsOpens;
    if (beforeOpen) beforeOpen(path, mode);
    static auto next = real<FILE* (*)(const char*, const char*)>("fopen");
    return next(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    ++opens;
    static auto next = real<FILE* (*)(const char*, const char*)>("fopen64");
    return next(path, mode);
}
int open(const char* path, int flags, ...) {
    ++opens;
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    static auto next = real<int (*)(const char*, int, ...)>("open");
    return next(path, flags, mode);
}
int openat(int directory, const char* path, int flags, ...) {
    ++opens;
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    static auto next = real<int (*)(int, const char*, int, ...)>("openat");
    return next(directory, path, flags, mode);
}
int nanosleep(const struct timespec* span, struct timespec* left) {
    if (beforeSleep) {
        auto hook = std::move(beforeSleep);
        beforeSleep = nullptr;
        hook();
    }
    static auto next = real<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
    return next(span, left);
}
int clock_gettime(clockid_t clock, struct timespec* now) {
    static auto next = real<int (*)(clockid_t, struct timespec*)>("clock_gettime");
    const int result = next(clock, now);
    if (clock == CLOCK_REALTIME && fixedRealTime.tv_sec != 0) *now = fixedRealTime;
    return result;
}
int stat(const char* path, struct stat* info) {
    ++queries;
    static auto next = real<int (*)(const char*, struct stat*)>("stat");
    return next(path, info);
}
}

using IdlePass = ScratchTest;

TEST_F(IdlePass, AllocatesNothingOpensNothingAndQueriesTheFileOncePerPass) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(2);
    const long allocationsBefore = allocations, opensBefore = opens, queriesBefore = queries;
    for (int pass = 0; pass < 1000; ++pass) {
        substituteHost.clock += 1;  // stays inside Clear's 30 minutes
        ASSERT_TRUE(substituteRunPasses(1));
    }
    EXPECT_EQ(allocations - allocationsBefore, 0);
    EXPECT_EQ(opens - opensBefore, 0);
    EXPECT_EQ(queries - queriesBefore, 1000);

    // The counters do see a pass that works: the due advance rewrites the file.
    substituteHost.clock += 1800;
    ASSERT_TRUE(substituteRunPasses(1));
    EXPECT_GT(allocations - allocationsBefore, 0);
    EXPECT_GT(opens - opensBefore, 0);
}

TEST_F(IdlePass, AbsentFileCostsOneQueryAndNothingElse) {
    startPlugin(1);
    std::filesystem::remove("Nubilo.ini");
    const long allocationsBefore = allocations, opensBefore = opens, queriesBefore = queries;
    ASSERT_TRUE(substituteRunPasses(500));
    EXPECT_EQ(allocations - allocationsBefore, 0);
    EXPECT_EQ(opens - opensBefore, 0);
    EXPECT_EQ(queries - queriesBefore, 500);
}

TEST_F(IdlePass, AFileInUseIsOpenedOnceASecondNotAtEveryPass) {
    asUnprivileged([] {
        writeFile("Nubilo.ini", defaultSettingsText());
        std::filesystem::permissions("Nubilo.ini", std::filesystem::perms::none);
        startPlugin(1);
        // A load waits its retry: frames meanwhile cost what an idle pass costs.
        const long allocationsBefore = allocations, opensBefore = opens, queriesBefore = queries;
        ASSERT_TRUE(substituteRunPasses(1000));  // no time passes
        EXPECT_EQ(allocations - allocationsBefore, 0);
        EXPECT_EQ(opens - opensBefore, 0);
        EXPECT_EQ(queries - queriesBefore, 1000);
        const long settingsBefore = settingsOpens;
        runFor(1, 1);
        EXPECT_EQ(settingsOpens - settingsBefore, 1);
    });
}

TEST_F(IdlePass, FileSavedBetweenTheStarLookupAndTheRewriteIsKeptAndReloaded) {
    struct Case {
        std::string replacement;
        const char* applied;  // on the pass after, which reloads the saved file
    };
    const Case cases[] = {{"Set Rain Time = 5* ; mine\nSet Fog Time = 5* ; mine\n", "Fog"},
                          {"; edited meanwhile\nSet Wind Time = 12*\n", "Wind"}};
    for (const Case& c : cases) {
        substituteReset();
        writeFile("Nubilo.ini", defaultSettingsText());
        startPlugin(1);
        int reads = 0;
        beforeOpen = [&](const char* path, const char* mode) {
            // The advance reads twice, lookup then validation: replace the file in between.
            if (std::strcmp(path, "Nubilo.ini") == 0 && mode[0] == 'r' && ++reads == 2) {
                beforeOpen = nullptr;
                writeFile("Nubilo.ini", c.replacement);
            }
        };
        runFor(1800, 1);
        beforeOpen = nullptr;
        EXPECT_EQ(reads, 2);
        // The rewrite would carry minutes loaded from the old file: the player's save stays.
        EXPECT_EQ(readFile("Nubilo.ini"), c.replacement);
        EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Clear");
        EXPECT_FALSE(std::filesystem::exists("Nubilo.ini.nubilo-tmp"));
        runFor(1, 1);
        EXPECT_EQ(logMessages().back(), std::string("[Nubilo] Applied weather: ") + c.applied);
        EXPECT_EQ(readFile("Nubilo.ini"), c.replacement);
    }
}

using PlayerSave = ScratchTest;

TEST_F(PlayerSave, ASaveIntoTheOldFileDuringTheSwapIsSwappedBack) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    // An editor that opened the file just before the rewrite swapped it out writes its save
    // into the old file, which by then sits under the temporary's name.
    const std::string save = "Set Fog Time = 7*\n";
    beforeSleep = [&] {
        ASSERT_EQ(readFile("Nubilo.ini.nubilo-tmp"), defaultSettingsText());
        std::FILE* old = std::fopen("Nubilo.ini.nubilo-tmp", "w");
        ASSERT_NE(old, nullptr);
        std::fputs(save.c_str(), old);
        std::fclose(old);
    };
    runFor(1800, 1);
    EXPECT_EQ(beforeSleep, nullptr);  // the swap happened
    EXPECT_EQ(readFile("Nubilo.ini"), save);
    EXPECT_FALSE(std::filesystem::exists("Nubilo.ini.nubilo-tmp"));
    EXPECT_NE(logMessages().back(), "[Nubilo] Weather.ini updated. New star: Snow");
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Fog");
    EXPECT_EQ(readFile("Nubilo.ini"), save);
}

TEST_F(PlayerSave, ASaveBetweenTheStartUpLoadAndTheFirstPollIsLoaded) {
    writeFile("Nubilo.ini", defaultSettingsText());
    int appends = 0;
    beforeOpen = [&](const char* path, const char* mode) {
        // The loader's "single index" line: the file has been read, the poll has not run.
        if (std::strcmp(path, "Weather.txt") == 0 && mode[0] == 'a' && ++appends == 2) {
            beforeOpen = nullptr;
            writeFile("Nubilo.ini", "Set Snow Time = 9*\n");
        }
    };
    startPlugin(2);
    beforeOpen = nullptr;
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Snow"}));
}

TEST_F(PlayerSave, AFileMadeWhileTheDefaultsAreWrittenIsKept) {
    const std::string save = "Set Wind Time = 4*\n";
    beforeOpen = [&](const char* path, const char* mode) {
        if (std::strcmp(path, "Nubilo.ini.nubilo-tmp") == 0 && mode[0] == 'w') {
            beforeOpen = nullptr;
            writeFile("Nubilo.ini", save);
        }
    };
    startPlugin(2);
    beforeOpen = nullptr;
    EXPECT_EQ(readFile("Nubilo.ini"), save);
    EXPECT_FALSE(std::filesystem::exists("Nubilo.ini.nubilo-tmp"));
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"[Nubilo] Nubilo.ASI started. Adjusting Weather...",
                                                      "[Nubilo] Weather.ini not found, using defaults.",
                                                      "[Nubilo] Applied weather: Clear", "[Nubilo] single index at 7.",
                                                      "[Nubilo] Applied weather: Wind"}));
}

TEST_F(PlayerSave, ARewriteInTheSameTickOfTheClockStillGetsANewLastWriteTime) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    // The clock reads exactly the old file's time: the poll must still see the rewrite.
    struct stat old;
    ASSERT_EQ(::stat("Nubilo.ini", &old), 0);
    fixedRealTime = old.st_mtim;
    runFor(1800, 1);
    fixedRealTime = {};
    struct stat now;
    ASSERT_EQ(::stat("Nubilo.ini", &now), 0);
    EXPECT_EQ(logMessages().back(), "[Nubilo] Weather.ini updated. New star: Snow");
    EXPECT_NE(static_cast<long long>(now.st_mtim.tv_sec) * 1000000000 + now.st_mtim.tv_nsec,
              static_cast<long long>(old.st_mtim.tv_sec) * 1000000000 + old.st_mtim.tv_nsec);
    runFor(1, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] Applied weather: Snow");
}

TEST_F(PlayerSave, ASaveDuringAReloadIsLoadedOnceAndKept) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    // The player saves twice: the poll sees the first save, and the second lands before the
    // loader opens the file. The load reads the second; the loop must remember that file, not the
    // one its poll saw, or the next pass reloads it again and restarts its minutes.
    writeFile("Nubilo.ini", "Set Fog Time = 3*\n");
    beforeOpen = [&](const char* path, const char* mode) {
        if (std::strcmp(path, "Nubilo.ini") == 0 && mode[0] == 'r') {
            beforeOpen = nullptr;
            writeFile("Nubilo.ini", "Set Wind Time = 4*\n");
        }
    };
    runFor(1, 1);
    beforeOpen = nullptr;
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Wind"}));
    runFor(60, 5);
    EXPECT_EQ(appliedWeathers(logMessages()), (std::vector<std::string>{"Clear", "Wind"}));
    EXPECT_EQ(cycleState.lastChangeTime, substituteHost.clock - 60);
    EXPECT_EQ(readFile("Nubilo.ini"), "Set Wind Time = 4*\n");
}

TEST_F(PlayerSave, ASaveAfterAnUnusableFileIsJudgedIsKeptLoadedAndNeverBackedUp) {
    // The loader has judged the file unusable; the player saves a usable one at three moments:
    // before the backup reads the backup there now, before it reads the judged file again, and
    // between that read and the write of the backup. The save stays and is loaded, no defaults go
    // over it, no backup is claimed, and a backup from an earlier start is untouched where the
    // save came before the backup's own read (after it, the backup is written and taken back).
    struct Moment {
        const char* path;
        char mode;
        int nth;  // the nth open of that path in that mode: the loader reads Nubilo.ini first
        bool backedUpBefore;
    };
    const std::string earlier = "Set Rain Time = 11*\n; my backup of last week\n";
    const std::string save = "Set Snow Time = 8*\n";
    for (const Moment m : {Moment{"Nubilo.ini.bak", 'r', 1, false}, Moment{"Nubilo.ini.bak", 'r', 1, true},
                           Moment{"Nubilo.ini", 'r', 2, false}, Moment{"Nubilo.ini", 'r', 2, true},
                           Moment{"Nubilo.ini.bak.nubilo-tmp", 'w', 1, true}}) {
        SCOPED_TRACE(std::string(m.path) + (m.backedUpBefore ? ", a backup from an earlier start" : ", no backup yet"));
        substituteReset();
        std::filesystem::remove("Nubilo.ini.bak");
        if (m.backedUpBefore) writeFile("Nubilo.ini.bak", earlier);
        struct stat backupBefore {};
        ::stat("Nubilo.ini.bak", &backupBefore);
        writeFile("Nubilo.ini", "nothing usable here\n");
        int opens = 0, saves = 0;
        beforeOpen = [&](const char* path, const char* mode) {
            if (std::strcmp(path, m.path) != 0 || mode[0] != m.mode || ++opens != m.nth) return;
            ++saves;
            writeFile("Nubilo.ini", save);
            beforeOpen = nullptr;  // last: this drops the closure and what it captured
        };
        startPlugin(2);
        beforeOpen = nullptr;
        EXPECT_EQ(saves, 1);
        EXPECT_EQ(readFile("Nubilo.ini"), save);
        const std::vector<std::string> messages = logMessages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), backupSavedMessage), 0);
        EXPECT_EQ(std::count(messages.begin(), messages.end(), defaultsWrittenMessage), 0);
        EXPECT_EQ(appliedWeathers(messages).back(), "Snow");
        struct stat backupAfter {};
        EXPECT_EQ(::stat("Nubilo.ini.bak", &backupAfter) == 0, m.backedUpBefore);
        if (m.backedUpBefore) {
            EXPECT_EQ(readFile("Nubilo.ini.bak"), earlier);
        }
        if (m.backedUpBefore && m.mode == 'r') {
            EXPECT_EQ(backupAfter.st_ino, backupBefore.st_ino);
            EXPECT_EQ(backupAfter.st_mtim.tv_sec, backupBefore.st_mtim.tv_sec);
            EXPECT_EQ(backupAfter.st_mtim.tv_nsec, backupBefore.st_mtim.tv_nsec);
        }
        EXPECT_FALSE(std::filesystem::exists("Nubilo.ini.nubilo-tmp"));
        EXPECT_FALSE(std::filesystem::exists("Nubilo.ini.bak.nubilo-tmp"));
    }
}

using StarStepWork = ScratchTest;

TEST_F(StarStepWork, NoRoadOpensTheSettingsFileOnTheFibre) {
    // The star road, and the default road that writes a lone "*" of a comment onto the weather
    // showing: the due pass starts the work, the take pass writes its lines; neither opens the file.
    struct Case {
        std::string file;
        std::vector<std::string> taken;  // the take pass's lines
    };
    const Case cases[] = {{defaultSettingsText(), {"[Nubilo] Weather.ini updated. New star: Snow"}},
                          {"; *\nSet Fog Time = 10\n", {"default is used", "[Nubilo] Weather.ini updated. New star: Clear",
                                                        "[Nubilo] Applied weather: Clear"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        substituteReset();
        writeFile("Nubilo.ini", c.file);
        startPlugin(1);
        substituteHost.holdJobs = true;
        const std::size_t logged = logMessages().size();
        const long before = settingsOpens;
        runFor(1800, 1);
        EXPECT_EQ(settingsOpens - before, 0);
        ASSERT_NE(substituteHost.heldJob, nullptr);
        substituteFinishHeldJob();
        EXPECT_GE(settingsOpens - before, 3);  // lookup, validation, temporary: all on the job
        const long afterJob = settingsOpens;
        runFor(0, 1);
        EXPECT_EQ(settingsOpens - afterJob, 0);
        const std::vector<std::string> messages = logMessages();
        EXPECT_EQ(std::vector<std::string>(messages.begin() + static_cast<long>(logged), messages.end()), c.taken);
    }
}

TEST_F(StarStepWork, AnExceptionInTheWorkIsTheStepsFailureAndTheCycleGoesOn) {
    writeFile("Nubilo.ini", defaultSettingsText());
    startPlugin(1);
    substituteHost.holdJobs = true;
    runFor(1800, 1);
    ASSERT_NE(substituteHost.heldJob, nullptr);
    failAllocations = true;  // the work's first allocation throws
    substituteFinishHeldJob();
    failAllocations = false;
    runFor(0, 1);
    EXPECT_EQ(logMessages().back(), "[Nubilo] ERROR: Could not update Weather.ini with new star.");
    EXPECT_EQ(readFile("Nubilo.ini"), defaultSettingsText());
    EXPECT_EQ(cycleState.currentPosition, 5);
    // Not due again before Clear's next 30 minutes; then the step works as ever.
    runFor(1799, 1);
    EXPECT_EQ(substituteHost.heldJob, nullptr);
    substituteHost.holdJobs = false;
    runFor(1, 2);
    EXPECT_EQ(appliedWeathers(logMessages()).back(), "Snow");
}
