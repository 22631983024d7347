#pragma once
// The one clock the plug-in reads: calendar time in whole seconds since 1970 (UTC).
// The shipped plug-in answers it with the C library's time(); the substitute host links its own.

#include <cstdint>

std::int64_t currentTime() noexcept;
