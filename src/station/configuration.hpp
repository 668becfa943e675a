// The configuration a module gets in this run, from its identity alone:
// veldconf's options from the command, its manifest row's cells over
// them, and the endpoint name its --name format (or its row's own name)
// makes of its IMEI and IMSI. A run builds it so, and --check says from
// it what a run would skip.
#pragma once

#include <cstddef>

#include "session.hpp"
#include "station.hpp"

namespace veld {

// settings for the module id; name (room for max_text_len bytes and a
// NUL) holds its endpoint name, which settings point to; row is its row
// in rows (the run's manifest, when it has one) or -1. false with "not in
// the manifest" or veldconf's refusal.
bool module_settings(const station_options &o, const manifest &rows, const identity &id, tool_settings &settings,
                     char *name, long &row, reason &why);

}  // namespace veld
