// A moment's calendar date and time, in UTC or in the local zone, as each
// platform's thread-safe call gives it (calendar_posix.cpp,
// calendar_win32.cpp).
#pragma once

#include <ctime>

namespace veld {

void calendar_time(std::time_t seconds, bool utc, std::tm &parts);

}  // namespace veld
