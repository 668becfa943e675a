// What a run would do, for --check: the configuration's command, the
// ports (or the watch), the manifest's rows, the slots and the modules an
// earlier run configured, said without opening a port or a file to write.
#pragma once

#include <cstdio>

#include "station.hpp"

namespace veld {

void write_plan(const station_options &o, std::FILE *out);

}  // namespace veld
