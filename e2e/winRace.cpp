// Two Windows processes race over one Nubilo.ini. This one loads the shipped Nubilo.asi beside the
// substitute host and runs its script pass by pass at a fixed cadence; a second process (this
// program again, as "editor") saves the file the way Windows editors do -- CreateFileA with
// GENERIC_WRITE, CREATE_ALWAYS or TRUNCATE_EXISTING, one write or three, CloseHandle -- sharing
// reading only (Notepad) or reading and writing (several editors and scripts), and after a random
// pause reads it back. A save is lost when the read-back no longer holds its minutes. A save the
// system refuses (a sharing violation while the plug-in holds the file) is what a player sees as
// "the file is in use": the editor keeps its text and saves again, and it counts once, when it lands.
//
// Two races: "reload" (nothing due: every save is polled and reloaded) and "rewrite" (every other
// pass is due, so the star is rewritten while the player saves). Fixed seeds; bounded by a count
// and a time per configuration (NUBILO_RACE_SAVES, NUBILO_RACE_SECONDS). Then twenty advances in a
// quiet folder, each pass doing the work it names. "times PLUGIN" runs only those advances
// (NUBILO_TIMING_ROUNDS, 200) and prints each pass's times: the benchmark's part, never a test's.
//
// Exit status 0 when no save was lost, no backup holds a fragment and every advance did its work.
//
// Index
//   the editor: its saves, read-backs and pauses (runEditor)
//   the plug-in's side: load, run, unload; one race per configuration (runRace)
//   the advances pass by pass (timedRound, runRounds) and the roads a replace can take (checkReplaceRoads)
//   main: the configurations, then the times
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "e2e/winSupport.h"
#include "fileAccess/fileAccess.h"
#include "settings/catalogue.h"
#include "settings/settingsText.h"
#include "substitute/substituteHost.h"
#include "tests/raceSupport.h"

namespace fs = std::filesystem;

namespace {

SubstituteHost& host = substituteState();

struct RaceConfig {
    bool rewrite;
    int cadenceMillis;  // pause between passes; 0 for a busy loop
    int writes;         // pieces one save is written in
    bool shareWrite;    // the editor shares writing as well as reading
};

// Save i as a Windows editor writes it: CR LF line ends.
std::string windowsSave(long i) {
    std::string crlf;
    for (char c : saveText(i)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

// Which save the bytes on disk carry, -1 for none.
long saveOnDisk(const std::string& bytes) {
    std::string text;
    for (char c : bytes)
        if (c != '\r') text += c;
    return saveOf(text);
}

// Reads a file whole. The editor reads as the C library's fopen does, sharing reading and
// writing but not deletion, so that the plug-in's rename of the file is refused while it is open
// (a reader a player may well run); the checks read sharing everything, so that they never hold
// up the plug-in they watch.
std::string readBack(const char* path, DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) {
    HANDLE file = CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(65536, '\0');
    DWORD got = 0;
    if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

constexpr DWORD fopenShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

double ticksPerMicro() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
}

long long nowTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void spinMicros(long micros) {
    static const double perMicro = ticksPerMicro();
    const long long until = nowTicks() + static_cast<long long>(micros * perMicro);
    while (nowTicks() < until) {
    }
}

void pauseMicros(long micros) {
    if (micros >= 2000)
        Sleep(static_cast<DWORD>(micros / 1000));
    else
        spinMicros(micros);
}

// The editor process: saves, pauses, reads back; prints "saves lost refused" on its last line.
int runEditor(const RaceConfig& config, long maxSaves, double seconds) {
    std::mt19937 random(20261208u + static_cast<unsigned>(config.cadenceMillis) * 7 + config.writes * 3 +
                        config.rewrite + config.shareWrite * 11);
    const long readBackMax = 2L * config.cadenceMillis * 1000 + 2000;
    const long long deadline = nowTicks() + static_cast<long long>(seconds * 1e6 * ticksPerMicro());
    const DWORD share = FILE_SHARE_READ | (config.shareWrite ? FILE_SHARE_WRITE : 0);
    long saves = 0, lost = 0, refused = 0;
    for (long i = 1; i <= maxSaves && nowTicks() < deadline; ++i) {
        const std::string text = windowsSave(i);
        const DWORD disposition = (i & 1) ? CREATE_ALWAYS : TRUNCATE_EXISTING;
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 2000 && file == INVALID_HANDLE_VALUE; ++attempt) {
            file = CreateFileA("Nubilo.ini", GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                ++refused;  // "in use" or, between two renames, "not found": the player saves again
                spinMicros(static_cast<long>(random() % 500));
            }
        }
        if (file == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "  save %ld could not be made at all\n", i);
            return 3;
        }
        const std::size_t piece = text.size() / static_cast<std::size_t>(config.writes);
        std::size_t at = 0;
        for (int w = 0; w < config.writes; ++w) {
            const std::size_t size = w + 1 == config.writes ? text.size() - at : piece;
            DWORD done = 0;
            if (!WriteFile(file, text.data() + at, static_cast<DWORD>(size), &done, nullptr) || done != size) return 3;
            at += size;
            if (w + 1 < config.writes) spinMicros(static_cast<long>(random() % 201));
        }
        CloseHandle(file);
        ++saves;
        pauseMicros(static_cast<long>(random() % static_cast<unsigned>(readBackMax + 1)));
        std::string back = readBack("Nubilo.ini", fopenShare);
        // Not there for a moment (between the plug-in's two renames), or held by it while a loaded
        // machine flushes: not lost; look again, for a second or two at most.
        for (int look = 0; look < 1000 && back.empty(); ++look) {
            Sleep(1);
            back = readBack("Nubilo.ini", fopenShare);
        }
        const long found = saveOnDisk(back);
        if (found != i && ++lost <= 3)
            std::fprintf(stderr, "  save %ld lost: the file then held %s\n", i,
                         found >= 0 ? ("save " + std::to_string(found)).c_str()
                                    : ("no save (" + std::to_string(back.size()) + " bytes)").c_str());
    }
    std::printf("%ld %ld %ld\n", saves, lost, refused);
    return 0;
}

// True when the backup is absent or holds a whole save.
bool backupIsWhole(std::string& why) {
    if (GetFileAttributesA("Nubilo.ini.bak") == INVALID_FILE_ATTRIBUTES) return true;
    const std::string backup = readBack("Nubilo.ini.bak");
    const long save = saveOnDisk(backup);
    if (save >= 0 && backup == windowsSave(save)) return true;
    why = std::to_string(backup.size()) + " bytes that no save wrote whole";
    return false;
}

void writeFirstSave() {
    const std::string first = windowsSave(0);
    HANDLE file = CreateFileA("Nubilo.ini", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    WriteFile(file, first.data(), static_cast<DWORD>(first.size()), &done, nullptr);
    CloseHandle(file);
}

// FreeLibrary returns at once; a star rewrite still running on the plug-in's thread keeps the
// module (and the file) until it ends.
void unloadPlugin(HMODULE module, const fs::path& plugin) {
    FreeLibrary(module);
    for (int wait = 0; wait < 5000 && GetModuleHandleW(plugin.filename().wstring().c_str()) != nullptr; ++wait) Sleep(1);
}

HMODULE startPlugin(const fs::path& plugin) {
    substituteReset(1700000000);
    host.recordNatives = false;
    HMODULE module = LoadLibraryW(plugin.wstring().c_str());
    if (module == nullptr) return nullptr;
    redirectClock(module);
    watchJobs(module);
    return module;
}

std::string describe(const RaceConfig& config) {
    char cadence[32];
    if (config.cadenceMillis == 0)
        std::snprintf(cadence, sizeof cadence, "busy loop");
    else
        std::snprintf(cadence, sizeof cadence, "%d ms passes", config.cadenceMillis);
    char line[128];
    std::snprintf(line, sizeof line, "%-7s race, %-12s %d %-7s %-10s", config.rewrite ? "rewrite" : "reload", cadence,
                  config.writes, config.writes == 1 ? "write," : "writes,",
                  config.shareWrite ? "share RW:" : "share R:");
    return line;
}

bool runRace(const fs::path& self, const fs::path& plugin, const RaceConfig& config, long maxSaves, long seconds) {
    const fs::path folder = fs::current_path() / "race-game-folder";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    fs::current_path(folder);
    writeFirstSave();
    HMODULE module = startPlugin(plugin);
    if (module == nullptr) {
        std::printf("cannot load %s (error %lu)\n", plugin.string().c_str(), GetLastError());
        return false;
    }
    substituteRunPasses(1);  // start-up and the first pass

    // The editor: this program again, its report on a pipe.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string command = "\"";
    command += self.string();
    command += "\" editor";
    for (long value : {static_cast<long>(config.rewrite), static_cast<long>(config.cadenceMillis), static_cast<long>(config.writes),
                       static_cast<long>(config.shareWrite), maxSaves, seconds}) {
        command += ' ';
        command += std::to_string(value);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION editor{};
    // A loaded machine can refuse a start for a moment (Wine has said 1359, an internal error):
    // that is the machine, not the plug-in, so the start is tried again.
    bool started = false;
    for (int attempt = 0; attempt < 10 && !started; ++attempt) {
        started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &editor);
        if (!started) Sleep(200u << (attempt < 4 ? attempt : 4));
    }
    if (!started) {
        std::printf("cannot start the editor (error %lu)\n", GetLastError());
        return false;
    }
    CloseHandle(writeEnd);

    long passes = 0;
    for (;;) {
        // Due at every other pass: the clock jumps past any interval; the reload in between restarts it.
        if (config.rewrite) host.clock += 2 * 86400;
        substituteRunPasses(1);
        ++passes;
        if (WaitForSingleObject(editor.hProcess, 0) == WAIT_OBJECT_0) break;
        if (config.cadenceMillis > 0) Sleep(static_cast<DWORD>(config.cadenceMillis));
    }
    DWORD status = 1;
    GetExitCodeProcess(editor.hProcess, &status);
    CloseHandle(editor.hProcess);
    CloseHandle(editor.hThread);
    char report[128] = {};
    DWORD got = 0;
    ReadFile(readEnd, report, sizeof report - 1, &got, nullptr);
    CloseHandle(readEnd);
    long saves = 0, lost = 0, refused = 0;
    const bool reported = std::sscanf(report, "%ld %ld %ld", &saves, &lost, &refused) == 3;

    std::string why;
    const bool backupWhole = backupIsWhole(why);
    unloadPlugin(module, plugin);
    const bool met = reported && status == 0 && saves > 0 && lost == 0 && backupWhole;
    std::printf("%s %ld saves, %ld lost, %ld opens refused, %ld passes%s%s\n", describe(config).c_str(), saves, lost,
                refused, passes, backupWhole ? "" : "; backup holds ", why.c_str());
    if (!met) std::printf("  target missed: no save lost and every backup whole\n");
    std::fflush(stdout);
    fs::current_path(folder.parent_path());
    fs::remove_all(folder, ignored);
    return met;
}

struct Spread {
    double median, p99, max;
};

Spread spreadOf(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const std::size_t n = micros.size();
    return {micros[n / 2], micros[std::min(n - 1, n * 99 / 100)], micros[n - 1]};
}

// Lines in the log so far.
long logLines() {
    const std::string log = readBack("Weather.txt");
    return static_cast<long>(std::count(log.begin(), log.end(), '\n'));
}

struct PassTimes {
    std::vector<double> due, take, reload, idle;
};

// One advance of the star, pass by pass, each pass timed alone: the pass that finds the interval
// up (it starts the file work on the plug-in's thread), the pass that takes the ended work's
// result, the pass that reloads the new file, and an idle pass. The work's end is awaited, not
// guessed. True when each pass did its work: one line for the take, two for the reload, none for
// the others.
bool timedRound(PassTimes& times) {
    static const double perMicro = ticksPerMicro();
    const auto timed = [&](std::vector<double>& samples, long lines) {
        const long before = logLines();
        const long long start = nowTicks();
        const bool ran = substituteRunPasses(1);
        samples.push_back(static_cast<double>(nowTicks() - start) / perMicro);
        return ran && logLines() - before == lines;
    };
    host.clock += 1800;
    bool worked = timed(times.due, 0);
    worked = awaitJobs() && worked;
    worked = timed(times.take, 1) && worked;
    worked = timed(times.reload, 2) && worked;
    return timed(times.idle, 0) && worked;
}

// Rounds of one advance each in a quiet folder; the number of rounds whose passes did not do
// their work. With `print`, the spread of each pass's times (the benchmark's output: times never
// decide a test).
int runRounds(const fs::path& plugin, int rounds, bool print) {
    const fs::path folder = fs::current_path() / "timing-game-folder";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    fs::current_path(folder);
    HMODULE module = startPlugin(plugin);
    if (module == nullptr) return rounds;
    substituteRunPasses(2);  // start-up writes the default file; then an idle pass
    PassTimes times;
    int idleRounds = 0;
    for (int round = 0; round < rounds; ++round)
        if (!timedRound(times)) ++idleRounds;
    unloadPlugin(module, plugin);
    for (auto [name, samples] : {std::pair{"interval-up pass", &times.due}, {"take pass       ", &times.take},
                                 {"reload pass     ", &times.reload}, {"idle pass       ", &times.idle}}) {
        if (!print || samples->empty()) continue;
        const Spread spread = spreadOf(*samples);
        std::printf("%s (%d rounds): median %8.1f us, p99 %8.1f us, max %8.1f us\n", name, rounds, spread.median,
                    spread.p99, spread.max);
    }
    std::printf("%d rounds of one advance: %d did not do the work their passes name\n", rounds, idleRounds);
    fs::current_path(folder.parent_path());
    fs::remove_all(folder, ignored);
    return idleRounds;
}

// The replace under Windows' own rules, road by road; the file index tells a rename from a
// rewrite in place. Returns the number of checks that failed.
int checkReplaceRoads() {
    int failures = 0;
    const auto expect = [&](bool ok, const char* what) {
        if (!ok) {
            ++failures;
            std::printf("  replace road check failed: %s\n", what);
        }
    };
    const fs::path folder = fs::current_path() / "roads-folder";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    fs::current_path(folder);
    const auto identity = [] {
        std::string bytes;
        return readWholeFile("a.ini", bytes, true).identity;
    };
    expect(replaceFileContent("a.ini", "old\n", false), "a first write");
    FileIdentity seen = identity();
    FileIdentity written;
    expect(replaceFileContentIf("a.ini", "new\n", false, seen, &written) == ReplaceOutcome::written, "a free file");
    expect(written.fileId != seen.fileId && sameFile(identity(), written), "a free file is renamed into place");
    expect(replaceFileContentIf("a.ini", "x\n", false, seen) == ReplaceOutcome::changedMeanwhile, "a stale expectation");
    seen = identity();
    HANDLE reader = CreateFileA("a.ini", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    expect(replaceFileContentIf("a.ini", "in place\n", false, seen, &written) == ReplaceOutcome::busy,
           "a file read without delete sharing is busy");
    CloseHandle(reader);
    expect(readBack("a.ini") == "new\r\n" && !fs::exists(temporaryPath("a.ini")), "it is left as it was, never rewritten in place");
    seen = identity();
    HANDLE writer = CreateFileA("a.ini", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    expect(replaceFileContentIf("a.ini", "x\n", false, seen) == ReplaceOutcome::busy, "a file open for writing is busy");
    CloseHandle(writer);
    expect(readBack("a.ini") == "new\r\n" && !fs::exists(temporaryPath("a.ini")), "a busy file is left as it was");
    fs::remove("a.ini");
    expect(replaceFileContentIf("a.ini", "x\n", false, seen) == ReplaceOutcome::changedMeanwhile && !fs::exists("a.ini"),
           "a file deleted meanwhile stays deleted");
    fs::current_path(folder.parent_path());
    fs::remove_all(folder, ignored);
    std::printf("replace roads: %s\n", failures == 0 ? "rename, busy and stale checks as expected" : "FAILED");
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 8 && std::string(argv[1]) == "editor") {
        const RaceConfig config{std::atoi(argv[2]) != 0, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]) != 0};
        return runEditor(config, std::atol(argv[6]), std::atof(argv[7]));
    }
    if (argc == 3 && std::string(argv[1]) == "times") {
        const int rounds = static_cast<int>(envNumber("NUBILO_TIMING_ROUNDS", 200));
        std::printf("The shipped Nubilo.asi's passes under this Windows loader, one advance a round:\n");
        return runRounds(fs::absolute(argv[2]), rounds, true) == 0 ? 0 : 1;
    }
    if (argc != 2) {
        std::printf("usage: nubiloWinRace [times] PATH\\TO\\Nubilo.asi\n");
        return 2;
    }
    const fs::path self = fs::absolute(argv[0]);
    const fs::path plugin = fs::absolute(argv[1]);
    const long saves = envNumber("NUBILO_RACE_SAVES", 400);
    const long seconds = envNumber("NUBILO_RACE_SECONDS", 3);
    std::printf("Windows editor saves against the shipped Nubilo.asi: at most %ld saves or %ld s per configuration\n",
                saves, seconds);
    int missed = checkReplaceRoads() == 0 ? 0 : 1, configs = 0;
    for (bool rewrite : {false, true})
        for (int cadence : {16, 1, 0})
            for (int writes : {1, 3})
                for (bool shareWrite : {false, true}) {
                    ++configs;
                    if (!runRace(self, plugin, {rewrite, cadence, writes, shareWrite}, saves, seconds)) ++missed;
                }
    // With nothing else at the file, every advance does its work; how long it takes is the
    // benchmark's to say (scripts/bench.sh).
    if (runRounds(plugin, 20, false) != 0) ++missed;
    std::printf("%d configurations, %d missed their target\n", configs, missed);
    return missed == 0 ? 0 : 1;
}
