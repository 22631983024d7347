// Two processes race over one Nubilo.ini. This one runs the plug-in's real loop (startCycle, then
// runCyclePass at a fixed cadence) with real file I/O; a child saves the file the way Notepad,
// Notepad++ and VS Code do -- truncate in place, write in one or three pieces, close -- and, after a
// random pause, reads it back. A save is lost when the read-back no longer holds its minutes: the
// plug-in wrote something over it that was not made from it.
//
// Two races: "reload" (no interval due: every save is polled and reloaded) and "rewrite" (every
// pass is due, so the star is rewritten while the player saves). Fixed seeds; bounded by a count
// and a time per configuration. NUBILO_RACE_SAVES and NUBILO_RACE_SECONDS make a longer run.
//
// Exit status 0 when every configuration met its target and no backup holds a fragment.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "fileAccess/fileAccess.h"
#include "settings/settingsText.h"
#include "substitute/substituteHost.h"
#include "tests/raceSupport.h"

namespace fs = std::filesystem;

namespace {

struct RaceConfig {
    bool rewrite;      // every pass due: the star is rewritten while the player saves
    int cadenceMicros;  // pause between passes; 0 for a busy loop
    int writes;         // pieces one save is written in
    double lostLimit;   // most lost saves allowed, as a share
};

struct RaceResult {
    long saves = 0;
    long lost = 0;
    long restored = 0;  // replaced for a moment, then swapped back
};

void pauseMicros(long micros) {
    if (micros <= 0) return;
    timespec span{micros / 1000000, (micros % 1000000) * 1000};
    nanosleep(&span, nullptr);
}

bool writeAllTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t done = ::write(fd, data, size);
        if (done <= 0) return false;
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// The editor: saves in place, pauses, reads back. Reports "saves lost" through the pipe.
[[noreturn]] void runEditor(const RaceConfig& config, long maxSaves, double seconds, int report) {
    std::mt19937 random(20261208u + static_cast<unsigned>(config.cadenceMicros) * 7 + config.writes * 3 + config.rewrite);
    const long readBackMax = 2L * config.cadenceMicros + 2000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    RaceResult result;
    for (long i = 1; i <= maxSaves && std::chrono::steady_clock::now() < deadline; ++i) {
        const std::string text = saveText(i);
        int fd = ::open("Nubilo.ini", O_WRONLY | O_TRUNC | O_CREAT, 0644);
        if (fd < 0) _exit(3);
        const std::size_t piece = text.size() / static_cast<std::size_t>(config.writes);
        std::size_t at = 0;
        for (int w = 0; w < config.writes; ++w) {
            const std::size_t size = w + 1 == config.writes ? text.size() - at : piece;
            if (!writeAllTo(fd, text.data() + at, size)) _exit(3);
            at += size;
            if (w + 1 < config.writes) pauseMicros(static_cast<long>(random() % 201));
        }
        ::close(fd);
        ++result.saves;
        pauseMicros(static_cast<long>(random() % static_cast<unsigned>(readBackMax + 1)));
        std::string back;
        readWholeFile("Nubilo.ini", back, true);
        long found = saveOf(back);
        if (found != i) {
            // A save swapped back into place shows the plug-in's file for a moment: look again.
            pauseMicros(2000);
            readWholeFile("Nubilo.ini", back, true);
            found = saveOf(back);
            if (found == i) ++result.restored;
        }
        if (found != i && ++result.lost <= 3)
            std::fprintf(stderr, "  save %ld lost: the file then held %s\n", i,
                         found >= 0 ? ("save " + std::to_string(found)).c_str()
                                    : ("no save (" + std::to_string(back.size()) + " bytes)").c_str());
    }
    char line[64];
    int length = std::snprintf(line, sizeof line, "%ld %ld %ld\n", result.saves, result.lost, result.restored);
    if (::write(report, line, static_cast<std::size_t>(length)) != length) _exit(3);
    _exit(0);
}

// True when the backup is absent or holds a whole save.
bool backupIsWhole(std::string& why) {
    std::string backup;
    if (!readWholeFile("Nubilo.ini.bak", backup, true).opened) return true;
    const long save = saveOf(backup);
    if (save >= 0 && backup == saveText(save)) return true;
    why = std::to_string(backup.size()) + " bytes that no save wrote whole";
    return false;
}

bool runRace(const RaceConfig& config, long maxSaves, double seconds) {
    const fs::path previous = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "nubilo-race-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    fs::current_path(pattern);

    {
        std::string first = saveText(0);
        int fd = ::open("Nubilo.ini", O_WRONLY | O_TRUNC | O_CREAT, 0644);
        if (fd < 0 || !writeAllTo(fd, first.data(), first.size())) return false;
        ::close(fd);
    }
    substituteReset(std::time(nullptr));
    substituteHost.recordNatives = false;
    resetCycle();
    startCycle();

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return false;
    std::fflush(nullptr);
    const pid_t editor = fork();
    if (editor == 0) {
        ::close(pipeEnds[0]);
        runEditor(config, maxSaves, seconds, pipeEnds[1]);
    }
    ::close(pipeEnds[1]);

    long passes = 0;
    int status = 0;
    for (;;) {
        substituteHost.clock = std::time(nullptr);
        // Due at every pass, as if each weather had shown its minutes already.
        if (config.rewrite) cycleState.lastChangeTime = substituteHost.clock - 2 * 86400;
        runCyclePass();
        ++passes;
        if ((passes & 15) == 0 || config.cadenceMicros > 0)
            if (waitpid(editor, &status, WNOHANG) == editor) break;
        pauseMicros(config.cadenceMicros);
    }

    char line[64] = {};
    RaceResult result;
    const bool reported = ::read(pipeEnds[0], line, sizeof line - 1) > 0 &&
                          std::sscanf(line, "%ld %ld %ld", &result.saves, &result.lost, &result.restored) == 3;
    ::close(pipeEnds[0]);
    std::string why;
    const bool backupWhole = backupIsWhole(why);

    char cadence[32];
    if (config.cadenceMicros == 0)
        std::snprintf(cadence, sizeof cadence, "busy loop");
    else
        std::snprintf(cadence, sizeof cadence, "%d ms passes", config.cadenceMicros / 1000);
    const double share = result.saves > 0 ? static_cast<double>(result.lost) / static_cast<double>(result.saves) : 1.0;
    const bool met = reported && WIFEXITED(status) && WEXITSTATUS(status) == 0 && result.saves > 0 &&
                     share <= config.lostLimit && backupWhole;
    std::printf("%-7s race, %-13s %d %-7s %ld saves, %ld lost (%.2f%%), %ld passes, %ld swapped back%s%s\n",
                config.rewrite ? "rewrite" : "reload", cadence, config.writes, config.writes == 1 ? "write:" : "writes:",
                result.saves, result.lost, 100.0 * share, passes, result.restored,
                backupWhole ? "" : "; backup holds ", why.c_str());
    if (!met) std::printf("  target missed: at most %.2f%% lost and every backup whole\n", 100.0 * config.lostLimit);
    std::fflush(stdout);

    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return met;
}

}  // namespace

int main() {
    const long saves = envNumber("NUBILO_RACE_SAVES", 2000);
    const double seconds = static_cast<double>(envNumber("NUBILO_RACE_SECONDS", 5));
    const std::vector<RaceConfig> configs = {
        {false, 16000, 1, 0.0}, {false, 16000, 3, 0.0}, {false, 1000, 1, 0.0}, {false, 1000, 3, 0.0},
        {false, 0, 1, 0.0},     {false, 0, 3, 0.0},     {true, 16000, 1, 0.0},  {true, 16000, 3, 0.0},
        {true, 1000, 1, 0.0},   {true, 1000, 3, 0.0},   {true, 0, 1, 0.01},     {true, 0, 3, 0.01},
    };
    std::printf("Editor saves against the plug-in's loop: at most %ld saves or %.0f s per configuration\n", saves,
                seconds);
    int missed = 0;
    for (const RaceConfig& config : configs)
        if (!runRace(config, saves, seconds)) ++missed;
    std::printf("%zu configurations, %d missed their target\n", configs.size(), missed);
    return missed == 0 ? 0 : 1;
}
