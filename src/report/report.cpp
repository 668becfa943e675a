#include "report.hpp"

#include <cstdlib>
#include <cstring>

#include "input_file.hpp"

namespace veld {

const char *key_name(report_key key) {
    static const char *const names[] = {"object",  "device",   "imei",    "imsi",    "endpoint",   "command",
                                        "lines",   "acknowledged", "result", "reason", "started",   "seconds",
                                        "station", "operator", "run",     "version", "transcript", "slot", "lot"};
    static_assert(sizeof names / sizeof names[0] == static_cast<std::size_t>(report_key::count), "a name a key");
    return names[static_cast<std::size_t>(key)];
}

namespace {

void append(void *context, const char *text, std::size_t len) {
    static_cast<std::string *>(context)->append(text, len);
}

}  // namespace

text_sink string_sink(std::string &text) { return {append, &text}; }

std::string module_key(const std::string &imei, const std::string &imsi) { return imei + ";" + imsi; }

const std::string *member(const report_object &o, report_key key) {
    const auto found = o.members.find(key_name(key));
    return found == o.members.end() || o.nulls.at(found->first) ? nullptr : &found->second;
}

std::string module_named(const report_object &o) {
    const std::string *imei = member(o, report_key::imei);
    const std::string *imsi = member(o, report_key::imsi);
    return imei == nullptr || imsi == nullptr ? std::string() : module_key(*imei, *imsi);
}

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

bool is_report_object(const report_object &o) {
    for (report_key key : {report_key::device, report_key::imei, report_key::imsi, report_key::command,
                           report_key::result, report_key::started}) {
        if (o.members.count(key_name(key)) == 0) return false;
    }
    return true;
}

enum class parsed { whole, cut, other };

// text as one report object: whole, cut short (the text ends inside it),
// or something else.
parsed parse_object(const std::string &text, report_object &o) {
    o.members.clear();
    o.nulls.clear();
    o.text = text;
    object_reader reader{text, 0, false};
    if (reader.object(o.members, o.nulls)) return is_report_object(o) ? parsed::whole : parsed::other;
    return reader.ran_out ? parsed::cut : parsed::other;
}

// A line that holds a cut object and then a whole one, as two reports
// joined leave it: where the whole one starts, or npos.
std::size_t joined_at(const std::string &line) {
    report_object whole, cut;
    for (std::size_t at = line.find('{', 1); at != std::string::npos; at = line.find('{', at + 1)) {
        if (parse_object(line.substr(at), whole) == parsed::whole &&
            parse_object(line.substr(0, at), cut) == parsed::cut) {
            return at;
        }
    }
    return std::string::npos;
}

// One line of the report, or of two joined.
bool take_line(const std::string &line, long number, take_object take, void *context, reason &why) {
    report_object o;
    const parsed whole_line = parse_object(line, o);
    if (whole_line != parsed::other) return take(context, number, whole_line == parsed::whole, o, why);
    const std::size_t at = joined_at(line);
    if (at == std::string::npos) return fail(why, "line %ld: not a report object", number);
    parse_object(line.substr(0, at), o);
    if (!take(context, number, false, o, why)) return false;
    parse_object(line.substr(at), o);
    return take(context, number, true, o, why);
}

// One word of a command as write_command quotes it: bare, in single
// quotes (a quote in them written '\''), or $'...' with \xNN, \\ and \'.
bool shell_word(const std::string &text, std::size_t &at, std::string &word) {
    word.clear();
    if (text.compare(at, 2, "$'") == 0) {
        for (at += 2; at < text.size() && text[at] != '\'';) {
            if (text[at] != '\\') {
                word += text[at++];
            } else if (at + 1 < text.size() && text[at + 1] == 'x' && at + 3 < text.size()) {
                word += static_cast<char>(std::strtoul(text.substr(at + 2, 2).c_str(), nullptr, 16));
                at += 4;
            } else if (at + 1 < text.size()) {
                word += text[at + 1];
                at += 2;
            } else {
                return false;
            }
        }
        return at++ < text.size();
    }
    while (at < text.size() && text[at] != ' ') {
        if (text[at] != '\'') {
            word += text[at++];
            continue;
        }
        const std::size_t close = text.find('\'', at + 1);
        if (close == std::string::npos) return false;
        word.append(text, at + 1, close - at - 1);
        at = close + 1;
        if (text.compare(at, 2, "\\'") == 0) word += '\'', at += 2;
    }
    return true;
}

}  // namespace

bool parse_report_line(const std::string &line, report_object &o) { return parse_object(line, o) == parsed::whole; }

bool report_open(report_reader &r, const char *path, bool &missing, reason &why) {
    return input_open(r.in, path, missing, why);
}

input_step report_line(report_reader &r, take_object take, void *context, reason &why) {
    const input_step step = input_line(r.in, r.line, why);
    if (step != input_step::line || r.line.empty()) return step;
    return take_line(r.line, r.in.line, take, context, why) ? step : input_step::fault;
}

void report_close(report_reader &r) { input_close(r.in); }

bool read_report(const char *path, bool &missing, take_object take, void *context, reason &why) {
    report_reader r{};
    if (!report_open(r, path, missing, why)) return false;
    input_step step = input_step::line;
    while ((step = report_line(r, take, context, why)) == input_step::line) {
    }
    report_close(r);
    return step == input_step::end;
}

bool command_uri(const std::string &command, std::string &uri) {
    const std::size_t flag = command.find(" -i ");
    std::size_t at = flag + 4;
    return flag != std::string::npos && shell_word(command, at, uri);
}

}  // namespace veld
