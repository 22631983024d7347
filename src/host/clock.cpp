#include "host/clock.h"

#include <ctime>

std::int64_t currentTime() noexcept { return static_cast<std::int64_t>(std::time(nullptr)); }
