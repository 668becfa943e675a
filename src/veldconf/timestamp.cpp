#include "timestamp.hpp"

#include "calendar.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace veld {

namespace {

void format_time(long long epoch_ms, bool utc, const char *pattern, const char *millis_pattern,
                 char *out, std::size_t capacity) {
    const std::time_t seconds = static_cast<std::time_t>(epoch_ms / 1000);
    std::tm parts{};
    calendar_time(seconds, utc, parts);
    const std::size_t n = std::strftime(out, capacity, pattern, &parts);
    std::snprintf(out + n, capacity - n, millis_pattern, static_cast<int>(epoch_ms % 1000));
}

}  // namespace

long long wall_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

long long steady_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void format_local(long long epoch_ms, char *out, std::size_t capacity) {
    format_time(epoch_ms, false, "%Y-%m-%d %H:%M:%S", ".%03d", out, capacity);
}

void format_utc(long long epoch_ms, char *out, std::size_t capacity) {
    format_time(epoch_ms, true, "%Y-%m-%dT%H:%M:%S", ".%03dZ", out, capacity);
}

}  // namespace veld
