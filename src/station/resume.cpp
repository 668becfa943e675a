#include "resume.hpp"

#include <cstdio>
#include <cstring>

#include "input_file.hpp"
#include "records.hpp"
#include "recreate.hpp"

namespace veld {

namespace {

// A flat JSON object's members: strings decoded, other values as written
// (null, true, false, numbers). ran_out is set when the text ended inside
// the object: a line cut short.
struct object_reader {
    const std::string text;
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
        return expect_here(c);
    }
    bool expect_here(char c) {
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
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    // The four hex digits of a \u escape, exactly those.
    bool hex4(unsigned long &cp) {
        static const char digits[] = "0123456789abcdef";
        cp = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            if (end()) return false;
            char c = text[at++];
            if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
            const char *digit = c == '\0' ? nullptr : std::strchr(digits, c);
            if (digit == nullptr) return false;
            cp = cp * 16 + static_cast<unsigned long>(digit - digits);
        }
        return true;
    }
    // After \u: one code point, a surrogate pair taken whole; a lone
    // surrogate is no text.
    bool code_point(std::string &out) {
        unsigned long cp = 0;
        if (!hex4(cp) || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned long low = 0;
            if (!expect_here('\\') || !expect_here('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        put_utf8(out, cp);
        return true;
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
            const char *plain = e == '\0' ? nullptr : std::strchr("\"\\/bfnrt", e);
            if (e == 'u' && !code_point(out)) return false;
            if (e == 'u') continue;
            if (plain == nullptr) return false;
            out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
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

using members = std::map<std::string, std::string>;
using nulls = std::map<std::string, bool>;

bool is_report_object(const members &m) {
    for (report_key key : {report_key::device, report_key::imei, report_key::imsi, report_key::command,
                           report_key::result, report_key::started}) {
        if (m.count(key_name(key)) == 0) return false;
    }
    return true;
}

enum class parsed { whole, cut, other };

// text as one report object: whole, cut short (the text ends inside it),
// or something else.
parsed parse_object(const std::string &text, members &m, nulls &n) {
    m.clear();
    n.clear();
    object_reader reader{text, 0, false};
    if (reader.object(m, n)) return is_report_object(m) ? parsed::whole : parsed::other;
    return reader.ran_out ? parsed::cut : parsed::other;
}

// The module (IMEI;IMSI) an object names, or empty.
std::string module_named(const members &m, const nulls &n) {
    const char *imei = key_name(report_key::imei);
    const char *imsi = key_name(report_key::imsi);
    if (m.count(imei) == 0 || m.count(imsi) == 0 || n.at(imei) || n.at(imsi)) return {};
    return module_key(m.at(imei), m.at(imsi));
}

// A cut object naming a module: whatever it was to say, the module is
// not known to be configured.
void take_cut(resume_state &state, long number, const members &m, const nulls &n) {
    state.cut_lines.push_back(number);
    const std::string module = module_named(m, n);
    if (!module.empty()) state.latest[module] = {"cut short", "", "", ""};
}

// A whole object: the module's latest, unless it only says the module was
// skipped (which configures nothing, and must not hide what did).
void take_whole(resume_state &state, const members &m, const nulls &n) {
    const std::string module = module_named(m, n);
    const std::string &what = m.at(key_name(report_key::result));
    if (module.empty() || what == result_name(result::skipped)) return;
    const char *command = key_name(report_key::command);
    state.latest[module] = {what, n.at(command) ? "" : m.at(command), m.at(key_name(report_key::started)),
                            m.at(key_name(report_key::device))};
}

// A line that holds a cut object and then a whole one, as two reports
// joined leave it: where the whole one starts, or npos.
std::size_t joined_at(const std::string &line) {
    members m, cut_m;
    nulls n, cut_n;
    for (std::size_t at = line.find('{', 1); at != std::string::npos; at = line.find('{', at + 1)) {
        if (parse_object(line.substr(at), m, n) == parsed::whole &&
            parse_object(line.substr(0, at), cut_m, cut_n) == parsed::cut) {
            return at;
        }
    }
    return std::string::npos;
}

// One line of the report, or of two joined; false when it is not a
// report object.
bool take_line(resume_state &state, long number, const std::string &line) {
    members m;
    nulls n;
    const parsed whole_line = parse_object(line, m, n);
    if (whole_line != parsed::other) {
        if (whole_line == parsed::whole) take_whole(state, m, n);
        else take_cut(state, number, m, n);
        return true;
    }
    const std::size_t at = joined_at(line);
    if (at == std::string::npos) return false;
    parse_object(line.substr(0, at), m, n);
    take_cut(state, number, m, n);
    parse_object(line.substr(at), m, n);
    take_whole(state, m, n);
    return true;
}

}  // namespace

bool read_resume(const char *path, resume_state &state, reason &why) {
    input_file in{};
    bool missing = false;
    if (!input_open(in, path, missing, why)) return missing;  // no report yet: nothing was done
    std::string line;
    bool read = true;
    for (input_step step; read && (step = input_line(in, line, why)) != input_step::end;) {
        read = step == input_step::line &&
               (line.empty() || take_line(state, in.line, line) || fail(why, "line %ld: not a report object", in.line));
    }
    input_close(in);
    return read;
}

void note_configured(resume_state &state, const std::string &module, const client_config &config,
                     const std::string &started, const std::string &device) {
    std::string command;
    write_command(config, string_sink(command).put, &command);
    state.latest[module] = {result_name(result::configured), command, started, device};
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
