// A configuration of three AT+VELDCONF lines, as veldconf prints it and
// the reader takes it back, for the conversation's tests and fuzzer.
#pragma once

#include <cstring>

#include "config.hpp"
#include "framing.hpp"

// Null when the lines do not read back.
inline const veld::framing *three_lines() {
    static veld::framing f;
    static bool made = false;
    if (made) return &f;
    static char uri[2100];
    std::memset(uri, 'u', sizeof uri);
    const veld::client_config config{0, 0, 0, 5683, 300, sizeof uri, uri, 3, "1;2", 5, 5, 2};
    static char text[veld::max_commands_len];
    const std::size_t size = veld::format_config_commands(config, text, sizeof text);
    veld::reason why;
    made = veld::read_command_text(text, size, f, why) && f.line_count == 3;
    return made ? &f : nullptr;
}
