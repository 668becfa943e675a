#include "calendar.hpp"

namespace veld {

void calendar_time(std::time_t seconds, bool utc, std::tm &parts) {
    if (utc) gmtime_s(&parts, &seconds);
    else localtime_s(&parts, &seconds);
}

}  // namespace veld
