#include "resume.hpp"

#include <cstdio>
#include <cstring>

#include "record_file.hpp"
#include "records.hpp"
#include "recreate.hpp"

namespace veld {

namespace {

// A flat JSON object's members: strings decoded, other values as written
// (null, true, false, numbers). ran_out is set when the text ended inside
// the object: a line cut short.
struct object_reader {
    const std::string &text;
    std::size_t at;
    bool ran_out;

    bool end() {
        ran_out = ran_out || at >= text.size();
        return at >= text.size();
    }
    void space() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    }
    bool expect(char c) {
        space();
        if (end() || text[at] != c) return false;
        ++at;
        return true;
    }
    static void put_utf8(std::string &out, unsigned long cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool string(std::string &out) {
        if (!expect('"')) return false;
        for (;;) {
            if (end()) return false;
            const char c = text[at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (end()) return false;
            const char e = text[at++];
            const char *plain = std::strchr("\"\\/bfnrt", e);
            if (e != 'u' && (plain == nullptr || e == '\0')) return false;
            if (e != 'u') {
                out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
                continue;
            }
            if (at + 4 > text.size()) {
                ran_out = true;
                return false;
            }
            char *stop = nullptr;
            const std::string hex = text.substr(at, 4);
            const unsigned long cp = std::strtoul(hex.c_str(), &stop, 16);
            if (*stop != '\0') return false;
            put_utf8(out, cp);
            at += 4;
        }
    }
    // A value: a string (decoded), or a literal or number as written;
    // null tells the literal null.
    bool value(std::string &out, bool &null) {
        space();
        null = false;
        if (end()) return false;
        if (text[at] == '"') return string(out);
        const std::size_t start = at;
        while (at < text.size() && std::strchr(",} \t", text[at]) == nullptr) ++at;
        if (end()) return false;
        out = text.substr(start, at - start);
        null = out == "null";
        if (null || out == "true" || out == "false") return true;
        char *stop = nullptr;
        std::strtod(out.c_str(), &stop);
        return !out.empty() && *stop == '\0';
    }
    bool object(std::map<std::string, std::string> &members, std::map<std::string, bool> &nulls) {
        if (!expect('{')) return false;
        for (;;) {
            std::string key, item;
            bool null = false;
            if (!string(key) || !expect(':') || !value(item, null)) return false;
            nulls[key] = null;
            members[key] = item;
            space();
            if (end()) return false;
            if (text[at] == '}') {
                ++at;
                space();
                return at == text.size();
            }
            if (text[at++] != ',') return false;
        }
    }
};

bool is_report_object(const std::map<std::string, std::string> &members) {
    for (const char *key : {"device", "imei", "imsi", "command", "result", "started"}) {
        if (members.count(key) == 0) return false;
    }
    return true;
}

}  // namespace

bool read_resume(const char *path, resume_state &state, reason &why) {
    std::string text;
    bool missing = false;
    if (!read_file(path, text, missing, why)) return missing;  // no report yet: nothing was done
    long number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.empty()) continue;
        object_reader reader{line, 0, false};
        std::map<std::string, std::string> members;
        std::map<std::string, bool> nulls;
        if (!reader.object(members, nulls)) {
            if (!reader.ran_out) return fail(why, "line %ld: not a report object", number);
            state.cut_lines.push_back(number);
            continue;
        }
        if (!is_report_object(members)) return fail(why, "line %ld: not a report object", number);
        if (nulls["imei"] || nulls["imsi"]) continue;  // no module known
        done_before &done = state.latest[members["imei"] + ";" + members["imsi"]];
        done = {members["result"], nulls["command"] ? "" : members["command"], members["started"],
                members["device"]};
    }
    return true;
}

bool configured_before(const resume_state &state, const std::string &module, const client_config &config,
                       bool port_fixed, reason &why) {
    const auto found = state.latest.find(module);
    if (found == state.latest.end() || found->second.result != "configured") return false;
    const done_before &done = found->second;
    client_config same = config;
    const std::size_t port_at = done.command.find(" -p ");
    if (!port_fixed && port_at != std::string::npos) {
        same.port = static_cast<std::uint16_t>(std::strtoul(done.command.c_str() + port_at + 4, nullptr, 10));
    }
    std::string command;
    write_command(same, string_sink(command).put, &command);
    if (command != done.command) return false;
    return !fail(why, "configured at %s on %s", done.started.c_str(), done.device.c_str());
}

}  // namespace veld
