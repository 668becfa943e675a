#include "manifest.hpp"

#include <cstdio>
#include <cstring>

#include "names.hpp"
#include "input_file.hpp"
#include "session.hpp"

namespace veld {

namespace {

// One line's cells, split at commas; a cell in double quotes may hold
// commas and doubled quotes. false when the last cell's quote is not
// closed on its line (a line end in a cell, which no cell may hold).
bool split_cells(const std::string &text, std::vector<std::string> &cells) {
    cells.assign(1, std::string());
    bool quoted = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (quoted && c == '"' && at + 1 < text.size() && text[at + 1] == '"') {
            cells.back() += '"';
            ++at;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            cells.emplace_back();
        } else {
            cells.back() += c;
        }
    }
    return !quoted;
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

// What people type by mistake, refused in every cell: a control byte (a
// line end in quotes among them) or blanks around the value.
bool plain_cell(const std::string &cell, reason &why) {
    for (const char c : cell) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return fail(why, "a control byte (\\x%02X)", byte);
    }
    const bool blank_around = !cell.empty() && (cell.front() == ' ' || cell.back() == ' ');
    return !blank_around || fail(why, "blanks around the value");
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

// The header: imei first, then known columns, each once.
bool read_header(const std::vector<std::string> &header, std::vector<const column *> &kinds, reason &why) {
    if (header[0] != "imei") return fail(why, "line 1, column 1: the first column is not imei");
    kinds.assign(1, nullptr);
    for (std::size_t k = 1; k < header.size(); ++k) {
        const column *c = find_column(header[k]);
        if (c == nullptr) return fail(why, "line 1, column %zu: unknown column '%s'", k + 1, header[k].c_str());
        for (const column *seen : kinds) {
            if (seen == c) return fail(why, "line 1, column %zu: %s is given twice", k + 1, header[k].c_str());
        }
        kinds.push_back(c);
    }
    return true;
}

// The name of a row's column k, for its faults.
std::string column_label(const std::vector<const column *> &kinds, std::size_t k) {
    return k == 0 ? "imei" : kinds[k]->name;
}

// One row, checked cell by cell, and against the rows before it.
bool read_row(long line, const std::vector<std::string> &cells, const std::vector<const column *> &kinds,
              const tool_settings &base, manifest &m, reason &why) {
    if (cells.size() != kinds.size()) {
        return fail(why, "line %ld: %zu fields, the header has %zu", line, cells.size(), kinds.size());
    }
    reason fault;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        if (!plain_cell(cells[k], fault)) {
            return fail(why, "line %ld, column %s: %s", line, column_label(kinds, k).c_str(), fault.text);
        }
    }
    manifest_row row{line, cells[0], {}, {}, false};
    if (row.imei.size() != imei_digits || !all_digits(row.imei.data(), row.imei.size())) {
        return fail(why, "line %ld, column imei: '%s' is not 15 digits", line, row.imei.c_str());
    }
    if (find_row(m, row.imei.c_str()) >= 0) return fail(why, "line %ld, column imei: %s is given twice", line, row.imei.c_str());
    for (std::size_t k = 1; k < cells.size(); ++k) {
        if (!cells[k].empty() && !read_cell(*kinds[k], cells[k], base, row, fault)) {
            return fail(why, "line %ld, column %s: %s", line, kinds[k]->name, fault.text);
        }
    }
    if (row.literal && !row.name.empty()) {
        const auto taken = m.literal_names.emplace(row.name, line);
        if (!taken.second) {
            return fail(why, "line %ld, column name: %s is line %ld's name too", line, row.name.c_str(),
                        taken.first->second);
        }
    }
    m.by_imei.emplace(row.imei, m.rows.size());
    m.rows.push_back(row);
    return true;
}

// The lines after the header, each a row; blank lines pass.
bool read_rows(input_file &in, const std::vector<const column *> &kinds, const tool_settings &base, manifest &m,
               reason &why) {
    std::string text;
    std::vector<std::string> cells;
    for (input_step step; (step = input_line(in, text, why)) != input_step::end;) {
        if (step == input_step::fault) return false;
        if (text.empty()) continue;
        if (!split_cells(text, cells)) {
            const std::size_t k = cells.size() - 1;
            return fail(why, "line %ld, column %s: a line end in a cell, or a quote not closed", in.line,
                        k < kinds.size() ? column_label(kinds, k).c_str() : std::to_string(k + 1).c_str());
        }
        if (!read_row(in.line, cells, kinds, base, m, why)) return false;
    }
    return true;
}

}  // namespace

bool read_manifest(const char *path, const tool_settings &base, manifest &m, reason &why) {
    m = manifest{};
    input_file in{};
    bool missing = false;
    if (!input_open(in, path, missing, why)) return false;
    std::string text;
    std::vector<std::string> header;
    std::vector<const column *> kinds;
    input_step step = input_line(in, text, why);
    bool read = step == input_step::line || (step == input_step::end && fail(why, "line 1: no header row"));
    read = read && (split_cells(text, header) ||
                    fail(why, "line 1, column %zu: a line end in a cell, or a quote not closed", header.size()));
    read = read && read_header(header, kinds, why) && read_rows(in, kinds, base, m, why);
    input_close(in);
    return read;
}

bool manifest_from_ledger(const std::vector<manifest_entry> &rows, const tool_settings &base, manifest &m,
                          reason &why) {
    m = manifest{};
    std::vector<std::string> cells;
    std::vector<const column *> kinds;
    for (const manifest_entry &row : rows) {
        cells.assign(1, row.imei);
        kinds.assign(1, nullptr);
        for (const auto &cell : row.cells) {
            const column *c = find_column(cell.first);
            if (c == nullptr) return fail(why, "line %ld: unknown column '%s'", row.line, cell.first.c_str());
            cells.push_back(cell.second);
            kinds.push_back(c);
        }
        if (!read_row(row.line, cells, kinds, base, m, why)) return false;
    }
    return true;
}

const char *column_name(char letter) {
    for (const column &c : columns) {
        if (c.letter == letter) return c.name;
    }
    return "?";
}

long find_row(const manifest &m, const char *imei) {
    const auto found = m.by_imei.find(imei);
    return found == m.by_imei.end() ? -1 : static_cast<long>(found->second);
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
