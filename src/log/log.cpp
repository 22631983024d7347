#include "log/log.h"

#include <cstdio>
#include <ctime>

#include "host/clock.h"

const std::string logFileName = "Weather.txt";

namespace {

// Room to spare for the 19 characters of a stamp: strftime fails rather than cut one short.
constexpr std::size_t stampSize = 100;

// "YYYY-MM-DD HH:MM:SS" in local time; false when the time cannot be converted.
bool formatLogTime(long long seconds, char (&buffer)[stampSize]) noexcept {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &time) != 0) return false;
#else
    if (localtime_r(&time, &local) == nullptr) return false;
#endif
    return std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local) != 0;
}

}  // namespace

void writeLog(const std::string& message) noexcept {
    // Text mode: the line end reaches the file as CR LF on Windows.
    std::FILE* file = std::fopen(logFileName.c_str(), "a");
    if (file == nullptr) return;
    char stamp[stampSize];
    if (!formatLogTime(currentTime(), stamp)) std::snprintf(stamp, sizeof stamp, "0000-00-00 00:00:00");
    std::fputs("[", file);
    std::fputs(stamp, file);
    std::fputs("] ", file);
    std::fwrite(message.data(), 1, message.size(), file);
    std::fputs("\n", file);
    std::fflush(file);
    std::fclose(file);
}

void clearLog() noexcept {
    std::FILE* file = std::fopen(logFileName.c_str(), "w");
    if (file != nullptr) std::fclose(file);
}
