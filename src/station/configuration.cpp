#include "configuration.hpp"

#include <cstring>

#include "names.hpp"

namespace veld {

bool module_settings(const station_options &o, const manifest &rows, const identity &id, tool_settings &settings,
                     char *name, long &row, reason &why) {
    settings = o.tool;
    row = -1;
    const char *format = o.name;
    const manifest_row *cells = nullptr;
    if (o.manifest_file != nullptr) {
        row = find_row(rows, id.imei);
        if (row < 0) return fail(why, "not in the manifest");
        cells = &rows.rows[static_cast<std::size_t>(row)];
        apply_row(*cells, settings);
        if (!cells->name.empty() && !cells->literal) format = cells->name.c_str();
    }
    const bool literal = cells != nullptr && cells->literal && !cells->name.empty();
    // A literal name was checked for its length when the manifest was read.
    const std::size_t len = literal ? cells->name.size() : make_name(format, id, name, max_text_len);
    if (len > max_text_len) return fail(why, "NAME exceed.");
    if (literal) std::memcpy(name, cells->name.data(), len);
    name[len] = '\0';
    return store_tool_option('n', name, settings, why);
}

}  // namespace veld
