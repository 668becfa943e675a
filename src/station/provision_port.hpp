// One port's provisioning, opening to closing: the port opened and the
// module woken (a module that does not answer yet leaves its port parked,
// open, holding no job, until it is probed again or its boot wait is
// over), its identity, its configuration made under its own name (a
// second port of a module already held is skipped), the lines sent, the
// transcript kept under the module's IMEI, the record published.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "config.hpp"
#include "framing.hpp"
#include "station.hpp"

namespace veld {

// What one job works with: room for the largest configuration.
struct job_room {
    char name[max_text_len + 1];
    char commands[max_commands_len];
    framing lines;
    client_config config;
    bool port_fixed;  // by the command or the manifest, not drawn
};

// A port is probed again this long after its module last said nothing.
constexpr long reprobe_ms = 2000;

// Takes the port at index of st.ports (its path device) on: from its
// opening, or from where it was parked.
void provision_port(station &st, job_room &room, std::size_t index, const std::string &device);

// Closes a parked port without a job (it went, or the station halted) and
// publishes its record. Called without st.lock.
void close_parked(station &st, std::size_t index);

}  // namespace veld
