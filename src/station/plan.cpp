#include "plan.hpp"

#include <cstring>
#include <string>

#include "configuration.hpp"
#include "recreate.hpp"
#include "watch.hpp"

namespace veld {

namespace {

void put_file(void *out, const char *text, std::size_t len) { std::fwrite(text, 1, len, static_cast<std::FILE *>(out)); }

// Text from a file or a module, escaped as every line of the run is.
void put_text(std::FILE *out, const std::string &text) { write_field(out, text.data(), text.size()); }

void write_ports(const station_options &o, std::FILE *out) {
    if (o.watch) {
        std::fputs("watch:", out);
        if (o.patterns.empty()) std::fputs(" the serial ports that appear", out);
        for (const char *pattern : o.patterns) {
            std::fputc(' ', out);
            put_text(out, pattern);
        }
        std::fputc('\n', out);
        return;
    }
    for (std::size_t i = 0; i < o.device_count; ++i) {
        bool listed = false;
        const std::string slot = slot_of(o.slots, o.devices[i], usb_path(o.devices[i]), listed);
        std::fputs("port: ", out);
        put_text(out, o.devices[i]);
        if (!slot.empty()) {
            std::fputs(" in slot ", out);
            put_text(out, slot);
        }
        std::fputc('\n', out);
    }
}

void write_rows(const station_options &o, std::FILE *out) {
    for (const manifest_row &row : o.rows.rows) {
        std::fprintf(out, "manifest line %ld: %s", row.line, row.imei.c_str());
        for (const auto &value : row.values) {
            std::fprintf(out, " %s=", column_name(value.first));
            put_text(out, value.second);
        }
        if (!row.name.empty()) {
            std::fputs(" name=", out);
            put_text(out, row.name);
            if (row.literal) std::fputs(" (literal)", out);
        }
        std::fputc('\n', out);
    }
    for (const auto &slot : o.slots.slots) {
        std::fputs("slot ", out);
        put_text(out, slot.second);
        std::fputs(": ", out);
        put_text(out, slot.first);
        std::fputc('\n', out);
    }
}

// The identity a module key (IMEI;IMSI) names; false when it can be none.
bool identity_of(const std::string &module, identity &id) {
    const std::size_t split = module.find(';');
    if (split == std::string::npos || split > imei_digits || module.size() - split - 1 > max_imsi_digits) return false;
    id = identity{};
    module.copy(id.imei, split);
    module.copy(id.imsi, module.size() - split - 1, split + 1);
    return true;
}

// The modules a run would skip as configured before: those whose latest
// object is configured with the configuration this run would make them.
void write_done(const station_options &o, std::FILE *out) {
    std::string name(max_text_len + 1, '\0');
    for (const auto &done : o.done.latest) {
        identity id{};
        tool_settings settings{};
        long row = -1;
        reason why;
        if (!identity_of(done.first, id) || !module_settings(o, o.rows, id, settings, &name[0], row, why) ||
            !configured_before(o.done, done.first, settings.config, settings.port_given, why)) {
            continue;
        }
        std::fputs("configured before: ", out);
        put_text(out, done.first);
        std::fputs(" at ", out);
        put_text(out, done.second.started);
        std::fputs(" on ", out);
        put_text(out, done.second.device);
        std::fputc('\n', out);
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
    write_rows(o, out);
    write_done(o, out);
}

}  // namespace veld
