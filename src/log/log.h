#pragma once
// The plug-in's log: one timestamped line per event, appended to "Weather.txt".
// Writing never fails visibly: a line that cannot be written is dropped.

#include <string>

extern const std::string logFileName;

void writeLog(const std::string& message) noexcept;
void clearLog() noexcept;
