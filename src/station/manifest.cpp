#include "manifest.hpp"

#include <cstdio>
#include <cstring>

#include "names.hpp"
#include "record_file.hpp"
#include "session.hpp"

namespace veld {

namespace {

// A record of the file: its fields and the line it starts on.
struct csv_record {
    long line;
    std::vector<std::string> fields;
};

// Splits text into records; false with the fault of an unclosed quote.
bool split_csv(const std::string &text, std::vector<csv_record> &records, reason &why) {
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    long line = 1;
    while (at < text.size()) {
        csv_record record{line, {std::string()}};
        bool quoted = false;
        for (; at < text.size(); ++at) {
            const char c = text[at];
            if (quoted) {
                if (c == '"' && at + 1 < text.size() && text[at + 1] == '"') {
                    record.fields.back() += '"';
                    ++at;
                } else if (c == '"') {
                    quoted = false;
                } else {
                    line += c == '\n';
                    record.fields.back() += c;
                }
            } else if (c == '"') {
                quoted = true;
            } else if (c == ',') {
                record.fields.emplace_back();
            } else if (c == '\n' || (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n')) {
                at += c == '\r' ? 2 : 1;
                ++line;
                break;
            } else {
                record.fields.back() += c;
            }
        }
        if (quoted) return fail(why, "line %ld: a quote that is not closed", record.line);
        // A blank line ends nothing and starts nothing.
        if (record.fields.size() > 1 || !record.fields[0].empty()) records.push_back(record);
    }
    return true;
}

struct column {
    const char *name;
    char letter;  // veldconf's option, or 0 for the name
    long long low, high;  // a number's range; low > high for a text
};

const column columns[] = {
    {"uri", 'i', 1, 0},
    {"port", 'p', 0, 65535},
    {"keep_alive", 't', -2147483648LL, 4294967295LL},
    {"debug", 'd', -2147483648LL, 4294967295LL},
    {"boot", 'b', 0, max_mode},
    {"encrypt", 'e', 0, max_mode},
    {"block1", 'u', 0, max_block_exponent},
    {"block2", 'g', 0, max_block_exponent},
    {"block2th", 'x', 0, max_block2th_exponent},
    {"name", 0, 1, 0},
};

const column *find_column(const std::string &name) {
    for (const column &c : columns) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

// A decimal number within [low, high]: digits, perhaps after a minus.
bool decimal_within(const std::string &text, long long low, long long high) {
    const std::size_t digits = text[0] == '-' ? 1 : 0;
    if (text.size() == digits || text.size() - digits > 10 ||
        !all_digits(text.data() + digits, text.size() - digits)) {
        return false;
    }
    const long long value = std::stoll(text);
    return value >= low && value <= high;
}

// Checks one cell of a row; false with the fault.
bool read_cell(const column &c, const std::string &cell, const tool_settings &base, manifest_row &row,
               reason &why) {
    if (c.letter == 0) {
        row.name = cell;
        row.literal = cell.find_first_of("{}") == std::string::npos;
        if (row.literal) {
            tool_settings named = base;
            return store_tool_option('n', cell.c_str(), named, why);
        }
        return check_name_format(cell.c_str(), why) && check_longest_name(cell.c_str(), base, why);
    }
    if (c.low <= c.high && !decimal_within(cell, c.low, c.high)) {
        return fail(why, "'%s' is not a decimal number from %lld to %lld", cell.c_str(), c.low, c.high);
    }
    tool_settings checked = base;
    if (!store_tool_option(c.letter, cell.c_str(), checked, why)) return false;
    row.values.emplace_back(c.letter, cell);
    return true;
}

bool read_rows(const std::vector<csv_record> &records, const tool_settings &base, manifest &m, reason &why) {
    if (records.empty()) return fail(why, "line 1: no header row");
    const std::vector<std::string> &header = records[0].fields;
    std::vector<const column *> kinds;
    for (std::size_t k = 0; k < header.size(); ++k) {
        const column *c = k == 0 ? nullptr : find_column(header[k]);
        if (k == 0 && header[0] != "imei") return fail(why, "line 1, column 1: the first column is not imei");
        if (k > 0 && c == nullptr) return fail(why, "line 1, column %zu: unknown column '%s'", k + 1, header[k].c_str());
        for (const column *seen : kinds) {
            if (seen == c) return fail(why, "line 1, column %zu: %s is given twice", k + 1, header[k].c_str());
        }
        kinds.push_back(c);
    }
    for (std::size_t r = 1; r < records.size(); ++r) {
        const csv_record &record = records[r];
        if (record.fields.size() != header.size()) {
            return fail(why, "line %ld: %zu fields, the header has %zu", record.line, record.fields.size(), header.size());
        }
        manifest_row row{record.line, record.fields[0], {}, {}, false};
        if (row.imei.size() != imei_digits || !all_digits(row.imei.data(), row.imei.size())) {
            return fail(why, "line %ld, column imei: '%s' is not 15 digits", record.line, row.imei.c_str());
        }
        if (find_row(m, row.imei.c_str()) >= 0) {
            return fail(why, "line %ld, column imei: %s is given twice", record.line, row.imei.c_str());
        }
        for (std::size_t k = 1; k < header.size(); ++k) {
            reason fault;
            if (!record.fields[k].empty() && !read_cell(*kinds[k], record.fields[k], base, row, fault)) {
                return fail(why, "line %ld, column %s: %s", record.line, kinds[k]->name, fault.text);
            }
        }
        for (const manifest_row &other : m.rows) {
            if (row.literal && other.literal && !row.name.empty() && other.name == row.name) {
                return fail(why, "line %ld, column name: %s is line %ld's name too", record.line, row.name.c_str(),
                            other.line);
            }
        }
        m.rows.push_back(row);
    }
    return true;
}

}  // namespace

bool read_manifest(const char *path, const tool_settings &base, manifest &m, reason &why) {
    std::string text;
    bool missing = false;
    if (!read_file(path, text, missing, why)) return false;
    std::vector<csv_record> records;
    m.rows.clear();
    return split_csv(text, records, why) && read_rows(records, base, m, why);
}

const char *column_name(char letter) {
    for (const column &c : columns) {
        if (c.letter == letter) return c.name;
    }
    return "?";
}

long find_row(const manifest &m, const char *imei) {
    for (std::size_t i = 0; i < m.rows.size(); ++i) {
        if (m.rows[i].imei == imei) return static_cast<long>(i);
    }
    return -1;
}

void apply_row(const manifest_row &row, tool_settings &settings) {
    reason checked_before;
    for (const auto &value : row.values) store_tool_option(value.first, value.second.c_str(), settings, checked_before);
}

bool check_longest_name(const char *format, const tool_settings &settings, reason &why) {
    identity longest{};
    std::memset(longest.imei, '9', imei_digits);
    std::memset(longest.imsi, '9', max_imsi_digits);
    std::string name(max_text_len, '\0');
    const std::size_t len = make_name(format, longest, &name[0], max_text_len);
    if (len > max_text_len) return fail(why, "its longest name (%zu bytes) is refused: NAME exceed.", len);
    name.resize(len);
    tool_settings named = settings;
    return store_tool_option('n', name.c_str(), named, why);
}

}  // namespace veld
