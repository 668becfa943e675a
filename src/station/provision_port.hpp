// One port's provisioning, opening to closing: the port opened and the
// module woken, its identity, its configuration made under its own name
// (a second port of a module already held is skipped), the lines sent, the
// transcript kept under the module's IMEI, the record published.
#pragma once

#include <cstddef>

#include "config.hpp"
#include "framing.hpp"
#include "records.hpp"
#include "session.hpp"
#include "station.hpp"

namespace veld {

// What one job works with: room for the largest configuration.
struct job_room {
    session conversation;
    char name[max_text_len + 1];
    char commands[max_commands_len];
    framing lines;
    client_config config;
    bool port_fixed;  // by the command or the manifest, not drawn
    port_record record;
};

// Provisions the port at index of st.ports, by job number job (which names
// its working transcript); room.record.device is its path.
void provision_port(station &st, std::size_t job, job_room &room, std::size_t index);

}  // namespace veld
