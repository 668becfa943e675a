// Moments as the records write them: milliseconds since the epoch, shown
// in local time for a transcript and in UTC for a report; and the steady
// clock that deadlines and durations are measured on.
#pragma once

#include <cstddef>

namespace veld {

long long wall_clock_ms();

// A clock that only goes forward, in milliseconds, for deadlines and
// durations.
long long steady_clock_ms();

// "2026-12-10 10:53:39.125", local time: 23 characters and a NUL.
constexpr std::size_t local_time_len = 23;
void format_local(long long epoch_ms, char *out, std::size_t capacity);

// "2026-12-10T09:53:39.125Z", UTC.
void format_utc(long long epoch_ms, char *out, std::size_t capacity);

}  // namespace veld
