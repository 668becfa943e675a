#include "plan.hpp"

#include <cstring>
#include <string>

#include "recreate.hpp"
#include "watch.hpp"

namespace veld {

namespace {

void put_file(void *out, const char *text, std::size_t len) { std::fwrite(text, 1, len, static_cast<std::FILE *>(out)); }

void write_ports(const station_options &o, std::FILE *out) {
    if (o.watch) {
        std::fputs("watch:", out);
        if (o.patterns.empty()) std::fputs(" the serial ports that appear", out);
        for (const char *pattern : o.patterns) std::fprintf(out, " %s", pattern);
        std::fputc('\n', out);
        return;
    }
    for (std::size_t i = 0; i < o.device_count; ++i) {
        bool listed = false;
        const std::string slot = slot_of(o.slots, o.devices[i], usb_path(o.devices[i]), listed);
        std::fprintf(out, "port: %s%s%s\n", o.devices[i], slot.empty() ? "" : " in slot ", slot.c_str());
    }
}

}  // namespace

void write_plan(const station_options &o, std::FILE *out) {
    client_config shown = o.tool.config;
    shown.ep_name = o.name;
    shown.ep_name_len = static_cast<std::uint32_t>(std::strlen(o.name));
    std::fputs("command: ", out);
    write_command(shown, put_file, out);
    std::fprintf(out, "%s\n", o.tool.port_given ? "" : " (-p drawn for each module)");
    write_ports(o, out);
    for (const manifest_row &row : o.rows.rows) {
        std::fprintf(out, "manifest line %ld: %s", row.line, row.imei.c_str());
        for (const auto &value : row.values) std::fprintf(out, " %s=%s", column_name(value.first), value.second.c_str());
        if (!row.name.empty()) std::fprintf(out, " name=%s%s", row.name.c_str(), row.literal ? " (literal)" : "");
        std::fputc('\n', out);
    }
    for (const auto &slot : o.slots.slots) std::fprintf(out, "slot %s: %s\n", slot.second.c_str(), slot.first.c_str());
    for (const auto &done : o.done.latest) {
        if (done.second.result != "configured") continue;
        std::fprintf(out, "configured before: %s at %s on %s\n", done.first.c_str(), done.second.started.c_str(),
                     done.second.device.c_str());
    }
}

}  // namespace veld
