// The serial ports present now, for a watch: the paths the patterns (globs)
// match, by default /dev/ttyUSB* and /dev/ttyACM*; on Windows the COM ports
// the system lists, patterns aside.
#pragma once

#include <string>
#include <vector>

namespace veld {

std::vector<std::string> list_ports(const std::vector<const char *> &patterns);

}  // namespace veld
