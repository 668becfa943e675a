// The veldconf command line that recreates a configuration, as
// veldconf-decode prints it and veldconf-provision records it: every
// setting spelled out, each text quoted for a POSIX shell.
#pragma once

#include <cstddef>

#include "config.hpp"

namespace veld {

// Hands the command line (no line end) to put, piece by piece.
void write_command(const client_config &c, void (*put)(void *context, const char *text, std::size_t len),
                   void *context);

}  // namespace veld
