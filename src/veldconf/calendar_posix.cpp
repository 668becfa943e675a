#include "calendar.hpp"

namespace veld {

void calendar_time(std::time_t seconds, bool utc, std::tm &parts) {
    if (utc) gmtime_r(&seconds, &parts);
    else localtime_r(&seconds, &parts);
}

}  // namespace veld
