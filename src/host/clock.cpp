#include "host/clock.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

std::int64_t currentTime() noexcept { return static_cast<std::int64_t>(std::time(nullptr)); }

#ifdef _WIN32
std::int64_t monotonicMilliseconds() noexcept {
    // The interrupt time without the time spent asleep: a resume is no wait of ours.
    ULONGLONG ticks = 0;  // 100 ns
    if (!QueryUnbiasedInterruptTime(&ticks)) return static_cast<std::int64_t>(GetTickCount64());  // never, since Windows 7
    return static_cast<std::int64_t>(ticks / 10000);
}
#else
std::int64_t monotonicMilliseconds() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);  // Linux: a suspend is not counted
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
#endif
