#pragma once
// The nubilo command-line tool: `check` tells what the plug-in will make of a settings file
// (check.h), `simulate` runs the real script loop on the substitute host with a simulated clock
// (simulate.h).

#include <iosfwd>
#include <string>
#include <vector>

// Exit statuses.
constexpr int exitUsable = 0;
constexpr int exitWouldReplace = 1;
constexpr int exitUsage = 2;
// What a command's argument reader returns when the command is to run.
constexpr int goOn = -1;

int runNubilo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
