#pragma once
// `nubilo simulate`: the plug-in's real loop on the substitute host, on a simulated clock.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// 2026-01-01 00:00:00 UTC: a simulation's day one.
constexpr std::int64_t simulationStart = 1767225600;

// A weather as the game showed it, from `at` seconds into the simulation.
struct Showing {
    std::int64_t at = 0;
    std::string displayName;
    std::string gameName;
    float wind = 0.0f;
};

struct Simulation {
    std::vector<Showing> shown;
    std::string log;  // the plug-in's Weather.txt
};

// Runs the plug-in's loop -- startCycle, then runCyclePass once a simulated second -- in the
// current directory, on a Nubilo.ini holding `settings` (none when null), for `seconds`. A pass
// in which nothing can happen (file unchanged, nothing due) is skipped unless everySecond.
Simulation simulateCycle(const std::string* settings, std::int64_t seconds, bool everySecond = false);

// The simulation as JSON: {"seconds":..,"bands":[{"weather","game","start","end","wind"}],"log":[..],
// "labels":[{"from","to","lasts"}]}.
std::string simulationJson(const Simulation& simulation, std::int64_t seconds);

// "HH:MM:SS" from the start of the simulation, and "1h 0m", "30m 1s" for a length of time.
std::string clockText(std::int64_t seconds);
std::string durationText(std::int64_t seconds);

int runSimulate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
