#include "live_view.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "terminal.hpp"

namespace veld {

namespace {

constexpr std::size_t bar_width = 20;
constexpr std::size_t widest_column = 32;

// Every text of the view is escaped as a terminal's field is, a byte a
// column: a line cut to width never wraps and moves the lines the view
// counts.
void fit(std::string &line, std::size_t width) {
    if (line.size() > width) line.resize(width);
}

// text, escaped, in width columns: a longer text keeps its end, where a
// device path says which port it is.
void append_padded(std::string &out, const std::string &text, std::size_t width) {
    std::string field;
    write_field(string_sink(field), text.data(), text.size());
    if (field.size() > width) field = width > 3 ? "..." + field.substr(field.size() - (width - 3)) : field.substr(field.size() - width);
    out += field;
    out.append(width - field.size(), ' ');
}

// The columns of a frame, as wide as the terminal lets them be.
struct layout {
    std::size_t slot, device;  // 0: the column is left out
    bool imei;
    std::size_t bar;  // the progress bar's width, 0: none
};

constexpr std::size_t imei_column = 15;
constexpr std::size_t gap = 2;

void append_body(std::string &out, const view_row &row, std::size_t bar, long long now_ms);

// The part of a row that must be seen: the result of a finished port (its
// reason may be cut), else its state, the lines acknowledged and the
// seconds, without the bar.
std::size_t least_body(const view_row &row, long long now_ms) {
    std::string body;
    append_body(body, row, 0, now_ms);
    const std::size_t reason = row.state == row_state::finished ? body.find(": ") : std::string::npos;
    return std::min(reason, body.size());
}

// How wide a column of texts is, escaped, within widest_column.
std::size_t column_width(const std::map<std::size_t, view_row> &rows, std::string view_row::*text) {
    std::size_t width = 0;
    for (const auto &entry : rows) {
        std::string field;
        const std::string &value = entry.second.*text;
        write_field(string_sink(field), value.data(), value.size());
        if (field.size() > width) width = field.size() > widest_column ? widest_column : field.size();
    }
    return width;
}

// Where the terminal is narrow, what gives way first: the bar, then the
// device column down to its end, then the IMEI, then the device further
// and the slot; a port's result is the last to be cut.
layout lay_out(const std::map<std::size_t, view_row> &rows, std::size_t columns, long long now_ms) {
    layout l{column_width(rows, &view_row::slot), column_width(rows, &view_row::device), true, bar_width};
    std::size_t body = 0;
    for (const auto &entry : rows) body = std::max(body, least_body(entry.second, now_ms));
    const auto used = [&l, body] {
        return (l.slot > 0 ? l.slot + gap : 0) + l.device + gap + (l.imei ? imei_column + gap : 0) + body;
    };
    const std::size_t room = columns > 0 ? columns - 1 : 0;  // the last column stays empty: no wrap
    const auto shrink = [&](std::size_t &width, std::size_t least) {
        const std::size_t over = used() > room ? used() - room : 0;
        width -= std::min(over, width > least ? width - least : 0);
    };
    shrink(l.device, 8);
    if (used() > room) l.imei = false;
    shrink(l.device, 4);
    shrink(l.slot, 2);
    const std::size_t bar_room = room > used() + 3 ? room - used() - 3 : 0;  // "[" "] " around it
    l.bar = std::min(bar_width, bar_room);
    if (l.bar < 4) l.bar = 0;
    return l;
}

void append_body(std::string &out, const view_row &row, std::size_t bar, long long now_ms) {
    char text[96];
    switch (row.state) {
    case row_state::probing:
        out += "probing";
        break;
    case row_state::waiting:
        out += "waiting for an answer";
        break;
    case row_state::sending: {
        if (bar > 0) {
            const std::size_t filled = row.total == 0 ? 0 : row.acknowledged * bar / row.total;
            out += '[';
            out.append(filled, '#');
            out.append(bar - filled, '.');
            out += "] ";
        }
        std::snprintf(text, sizeof text, "%zu/%zu", row.acknowledged, row.total);
        out += text;
        break;
    }
    case row_state::finished:
        write_field(string_sink(out), row.outcome.data(), row.outcome.size());
        return;  // its time is in its outcome
    }
    std::snprintf(text, sizeof text, "  %lld s", (now_ms - row.opened_ms) / 1000);
    out += text;
}

std::string format_row(const view_row &row, const layout &l, long long now_ms) {
    std::string line;
    if (l.slot > 0) {
        append_padded(line, row.slot, l.slot);
        line.append(gap, ' ');
    }
    if (l.device > 0) {
        append_padded(line, row.device, l.device);
        line.append(gap, ' ');
    }
    if (l.imei) {
        append_padded(line, row.imei.empty() ? std::string("-") : row.imei, imei_column);
        line.append(gap, ' ');
    }
    append_body(line, row, l.bar, now_ms);
    return line;
}

}  // namespace

void format_view(const std::map<std::size_t, view_row> &rows, const std::string &counts, long long now_ms,
                 std::size_t width, std::size_t height, std::string &out) {
    const layout l = lay_out(rows, width, now_ms);
    // One line of the terminal stays above the view, for the last line printed.
    const std::size_t room = height > 2 ? height - 2 : 0;
    const bool counted = rows.size() > room && room > 0;  // in one last row
    const std::size_t shown = rows.size() <= room ? rows.size() : (counted ? room - 1 : 0);
    const std::size_t columns = width > 0 ? width - 1 : 0;
    std::size_t n = 0;
    for (const auto &entry : rows) {
        if (n++ == shown) break;
        std::string line = format_row(entry.second, l, now_ms);
        fit(line, columns);
        out += line;
        out += '\n';
    }
    if (counted) {
        std::string more = "and " + std::to_string(rows.size() - shown) + " more ports";
        fit(more, columns);
        out += more;
        out += '\n';
    }
    std::string last = counts;
    fit(last, columns);
    out += last;
}

view_row *change_row(live_view &v, std::size_t index) {
    if (!v.on) return nullptr;
    v.changed = true;
    return &v.rows[index];
}

void end_row(live_view &v, std::size_t index, const port_record &r, bool watch) {
    view_row *row = change_row(v, index);
    if (row == nullptr) return;
    const bool kept = r.what == result::configured || r.what == result::failed || r.before || r.in_use;
    if (!watch || !kept) {
        v.rows.erase(index);
        return;
    }
    row->slot = r.slot;  // for a port never opened, as for one opened
    row->device = r.device;
    if (r.imei_known) row->imei = r.id.imei;
    char text[96];
    std::snprintf(text, sizeof text, "%s %zu/%zu in %.1f s", result_name(r.what), r.acknowledged, r.lines,
                  r.seconds);
    row->state = row_state::finished;
    row->outcome = r.in_use ? "in use" : text;
    if (!r.in_use && r.why.text[0] != '\0') row->outcome.append(": ").append(r.why.text);
}

std::string next_frame(live_view &v, const std::string &counts, long long now_ms) {
    std::size_t width = 0, height = 0;
    terminal_size(width, height);
    std::string frame;
    format_view(v.rows, counts, now_ms, width, height, frame);
    v.drawn_ms = now_ms;
    v.changed = false;
    return frame;
}

bool view_due(const live_view &v, long long now_ms) {
    const long long since = now_ms - v.drawn_ms;
    return v.on && since >= view_interval_ms && (v.changed || since >= 1000);
}

}  // namespace veld
