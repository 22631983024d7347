// What one script pass costs the game, beside the floor of one file query, and what the rare
// working passes cost. Prints the idle pass's ratios to the floor and to a literal reading.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "cycle/advance.h"
#include "cycle/cycleState.h"
#include "cycle/mainLoop.h"
#include "settings/settingsFile.h"
#include "substitute/substituteHost.h"

namespace fs = std::filesystem;

namespace {

// A game folder of its own with the default settings file, the plug-in started in it.
void startInScratch() {
    static bool made = false;
    if (!made) {
        std::string pattern = (fs::temp_directory_path() / "nubilo-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        fs::current_path(pattern);
        made = true;
        static std::string folder = pattern;
        std::atexit([] {
            std::error_code ignored;
            fs::current_path(fs::temp_directory_path(ignored), ignored);
            fs::remove_all(folder, ignored);
        });
    }
    fs::remove("Nubilo.ini");
    substituteReset();
    substituteHost.recordNatives = false;
    resetCycle();
    startCycle();  // writes the default file and applies Clear
}

void idlePass(benchmark::State& state) {
    startInScratch();
    for (auto _ : state) runCyclePass();
    if (cycleState.lastChangeTime != substituteHost.clock) state.SkipWithError("the pass was not idle");
}

void floorQuery(benchmark::State& state) {
    startInScratch();
    struct stat info;
    for (auto _ : state) {
        int result = stat(settingsPath.c_str(), &info);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(info.st_mtim);
    }
}

// The pass read literally: "if the file exists, read its last-write time", two queries on a
// path made from the name every time, then the step.
void literalPass(benchmark::State& state) {
    startInScratch();
    for (auto _ : state) {
        const fs::path path(settingsPath);
        if (fs::exists(path)) {
            auto time = fs::last_write_time(path);
            benchmark::DoNotOptimize(time);
        }
        advanceCycle(settingsSettling());
    }
}

void starAdvanceAndReload(benchmark::State& state) {
    startInScratch();
    for (auto _ : state) {
        substituteHost.clock += 1800;
        advanceCycle(settingsSettling());  // lookup, validation, rewrite
        runCyclePass();  // the reload: load and apply
    }
}

void starAdvanceOnly(benchmark::State& state) {
    startInScratch();
    for (auto _ : state) {
        substituteHost.clock += 1800;
        advanceCycle(settingsSettling());
        state.PauseTiming();
        runCyclePass();
        state.ResumeTiming();
    }
}

void loadDefaultFile(benchmark::State& state) {
    startInScratch();
    for (auto _ : state) {
        std::int32_t startIndex = 0;
        std::vector<std::int32_t> marked;
        IntervalMap intervals = loadSettings(startIndex, marked);
        benchmark::DoNotOptimize(intervals);
    }
}

std::map<std::string, double> nanoseconds;

struct RecordingReporter : benchmark::ConsoleReporter {
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions, the median stands for the benchmark.
        for (const Run& run : runs)
            if (!run.error_occurred && (run.run_type == Run::RT_Iteration ? run.repetitions <= 1
                                                                          : run.aggregate_name == "median"))
                nanoseconds[run.run_name.function_name] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(idlePass);
BENCHMARK(floorQuery);
BENCHMARK(literalPass);
BENCHMARK(starAdvanceAndReload)->Unit(benchmark::kMicrosecond);
BENCHMARK(starAdvanceOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(loadDefaultFile)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    setenv("TZ", "UTC", 1);
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double idle = nanoseconds["idlePass"], floor = nanoseconds["floorQuery"], literal = nanoseconds["literalPass"];
    if (idle > 0 && floor > 0 && literal > 0) {
        std::printf("\nidle pass: %.0f ns = %.5f%% of a 60 fps frame (16.7 ms)\n", idle, idle / 16.7e6 * 100);
        std::printf("idle pass / floor (one bare query): %.3f   (target <= 1.25)\n", idle / floor);
        std::printf("literal reading / idle pass:        %.2f    (target >= 1.8)\n", literal / idle);
    }
    if (nanoseconds.count("starAdvanceAndReload"))
        std::printf("star advance + reload: %.1f us       (target < 1000 us)\n", nanoseconds["starAdvanceAndReload"] / 1000);
    return 0;
}
