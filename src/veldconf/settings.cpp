#include "settings.hpp"

#include <chrono>
#include <cstring>
#include <random>

#include "main.hpp"

namespace {

// The values the usage text announces; the port is drawn later, if needed.
tool_settings initial_settings() {
    tool_settings s{};
    s.config.lifetime = 300;
    s.config.block1 = 5;
    s.config.block2 = 5;
    s.config.block2th = 2;
    return s;
}

}  // namespace

// The random device may be missing (it throws then): the clock and where
// the stack landed still differ per run.
std::uint32_t per_run_entropy() {
    try {
        std::random_device source;
        return source();
    } catch (...) {
        const int here = 0;
        const auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
        return static_cast<std::uint32_t>(ticks) ^
               static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&here) >> 4);
    }
}

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading (white space, a sign, digits up to the first other
// character), built in 32 bits with a defined wrap-around.
std::uint32_t parse_number(const char *text) {
    while (is_space(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<std::uint32_t>(*text - '0');
    }
    return negative ? 0u - value : value;
}

// The check sees the stored 8-bit value, so -b 256 passes as 0.
bool store_checked(std::uint8_t &field, const char *arg, std::uint8_t limit, const char *message,
                   veld::reason &why) {
    field = static_cast<std::uint8_t>(parse_number(arg));
    return field <= limit || veld::fail(why, "%s", message);
}

// A text longer than its 16-bit length field can describe is refused.
bool set_text(const char *text, const char *&field, std::uint32_t &len, const char *message,
              veld::reason &why) {
    const std::size_t n = std::strlen(text);
    if (n > veld::max_text_len) return veld::fail(why, "%s", message);
    field = text;
    len = static_cast<std::uint32_t>(n);
    return true;
}

bool is_tool_option(char c) {
    return c != '\0' && c != ':' && std::strchr(tool_short_options, c) != nullptr;
}

// Handles one scanner result; false at a refusal.
bool handle_option(char c, int argc, char *argv[], tool_settings &s, const settings_faults &faults,
                   veld::reason &why) {
    if (!is_tool_option(c)) {  // the scanner has reported it
        if (c == '?' || c == ':') faults.seen(faults.context, c, argc, argv);
        return true;
    }
    if (c == 'h') {
        s.help_seen = true;
        faults.seen(faults.context, c, argc, argv);
        return true;
    }
    if (veld::optarg == nullptr) {
        veld::optopt = 0;  // the scanner took the option: it is named by its word
        faults.seen(faults.context, ':', argc, argv);
        return true;
    }
    s.settings_seen = true;
    return store_tool_option(c, veld::optarg, s, why);
}

}  // namespace

bool store_tool_option(char c, const char *arg, tool_settings &s, veld::reason &why) {
    veld::client_config &config = s.config;
    switch (c) {
        case 'b':
            return store_checked(config.boot, arg, max_mode, "BOOTMODE exceed.", why);
        case 'e':
            return store_checked(config.encrypt, arg, max_mode, "ENCRYPTMODE exceed.", why);
        case 'd':
            config.debug = static_cast<std::int32_t>(parse_number(arg));
            return true;
        case 'p':
            config.port = static_cast<std::uint16_t>(parse_number(arg));
            s.port_given = true;
            return true;
        case 't':
            config.lifetime = static_cast<std::int32_t>(parse_number(arg));
            return true;
        case 'i':
            s.uri_given = true;
            return set_text(arg, config.uri, config.uri_len, "URI exceed.", why);
        case 'n':
            s.name_given = true;
            return set_text(arg, config.ep_name, config.ep_name_len, "NAME exceed.", why);
        case 'u':
            return store_checked(config.block1, arg, max_block_exponent, "BLOCKSIZE exceed.", why);
        case 'g':
            return store_checked(config.block2, arg, max_block_exponent, "BLOCKSIZE exceed.", why);
        case 'x':
            return store_checked(config.block2th, arg, max_block2th_exponent, "BLOCKSIZE exceed.", why);
    }
    return true;
}

bool check_needed_settings(const tool_settings &s, veld::reason &why) {
    if (!s.uri_given) return veld::fail(why, "URI missing.");
    if (!s.name_given) return veld::fail(why, "NAME missing.");
    return true;
}

bool read_tool_settings(int argc, char *argv[], tool_settings &s, const settings_faults &faults,
                        veld::reason &why) {
    s = initial_settings();
    for (;;) {
        const auto c = static_cast<signed char>(veld::getopt_long(
            argc, argv, tool_short_options, tool_long_options, nullptr));
        if (c == -1) return true;
        if (!handle_option(c, argc, argv, s, faults, why)) return false;
    }
}

std::uint16_t draw_port() { return dynamic_port(per_run_entropy()); }

std::uint16_t dynamic_port(std::uint32_t entropy) {
    return static_cast<std::uint16_t>(49152 + entropy % 16384);
}
