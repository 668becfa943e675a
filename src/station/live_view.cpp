#include "live_view.hpp"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace veld {

namespace {

constexpr std::size_t bar_width = 20;
constexpr std::size_t widest_column = 32;

// The terminal's columns and lines; 80 by 24 where it does not say.
void terminal_size(std::size_t &width, std::size_t &height) {
    width = 80;
    height = 24;
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        width = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
        height = static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
    }
#else
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        width = size.ws_col;
        height = size.ws_row;
    }
#endif
}

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
    if (field.size() > width) field = "..." + field.substr(field.size() - (width - 3));
    out += field;
    out.append(width - field.size(), ' ');
}

void append_body(std::string &out, const view_row &row, long long now_ms) {
    char text[96];
    switch (row.state) {
    case row_state::probing:
        out += "probing";
        break;
    case row_state::waiting:
        out += "waiting for an answer";
        break;
    case row_state::sending: {
        const std::size_t filled = row.total == 0 ? 0 : row.acknowledged * bar_width / row.total;
        out += '[';
        out.append(filled, '#');
        out.append(bar_width - filled, '.');
        std::snprintf(text, sizeof text, "] %zu/%zu", row.acknowledged, row.total);
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

std::string format_row(const view_row &row, std::size_t slot_width, std::size_t device_width, long long now_ms) {
    std::string line;
    if (slot_width > 0) {
        append_padded(line, row.slot, slot_width);
        line += "  ";
    }
    append_padded(line, row.device, device_width);
    line += "  ";
    append_padded(line, row.imei.empty() ? std::string("-") : row.imei, 15);
    line += "  ";
    append_body(line, row, now_ms);
    return line;
}

// Back to the view's first line, and everything from there erased: by
// escapes appended to out, or on Windows at once by the console's own
// calls, which every console there takes.
void erase(std::size_t lines_shown, std::string &out) {
#ifdef _WIN32
    std::fflush(stderr);
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return;
    const SHORT up = static_cast<SHORT>(lines_shown > 1 ? lines_shown - 1 : 0);
    const COORD first = {0, static_cast<SHORT>(info.dwCursorPosition.Y > up ? info.dwCursorPosition.Y - up : 0)};
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y - first.Y);
    DWORD done = 0;
    FillConsoleOutputCharacterA(console, ' ', cells, first, &done);
    FillConsoleOutputAttribute(console, info.wAttributes, cells, first, &done);
    SetConsoleCursorPosition(console, first);
    (void)out;
#else
    char text[32];
    if (lines_shown > 1) std::snprintf(text, sizeof text, "\r\x1b[%zuA\x1b[J", lines_shown - 1);
    else std::snprintf(text, sizeof text, "\r\x1b[J");
    out += text;
#endif
}

}  // namespace

void format_view(const std::map<std::size_t, view_row> &rows, const std::string &counts, long long now_ms,
                 std::size_t width, std::size_t height, std::string &out) {
    const std::size_t slot_width = column_width(rows, &view_row::slot);
    const std::size_t device_width = column_width(rows, &view_row::device);
    // One line of the terminal stays above the view, for the last line printed.
    const std::size_t room = height > 2 ? height - 2 : 0;
    const bool counted = rows.size() > room && room > 0;  // in one last row
    const std::size_t shown = rows.size() <= room ? rows.size() : (counted ? room - 1 : 0);
    std::size_t n = 0;
    for (const auto &entry : rows) {
        if (n++ == shown) break;
        std::string line = format_row(entry.second, slot_width, device_width, now_ms);
        fit(line, width - 1);
        out += line;
        out += '\n';
    }
    if (counted) {
        char more[64];
        std::snprintf(more, sizeof more, "and %zu more ports", rows.size() - shown);
        out += more;
        out += '\n';
    }
    std::string last = counts;
    fit(last, width - 1);
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

void clear_view(live_view &v) {
    if (v.lines_shown == 0) return;
    std::string text;
    erase(v.lines_shown, text);
    std::fwrite(text.data(), 1, text.size(), stderr);
    v.lines_shown = 0;
}

void draw_view(live_view &v, const std::string &counts, long long now_ms) {
    if (!v.on) return;
    std::size_t width = 0, height = 0;
    terminal_size(width, height);
    std::string frame;  // on a terminal one write: the old view goes as the new one comes
    erase(v.lines_shown, frame);
    const std::size_t erased = frame.size();
    format_view(v.rows, counts, now_ms, width, height, frame);
    std::fwrite(frame.data(), 1, frame.size(), stderr);
    std::fflush(stderr);
    v.lines_shown = 1;
    for (std::size_t i = erased; i < frame.size(); ++i) v.lines_shown += frame[i] == '\n';
    v.drawn_ms = now_ms;
    v.changed = false;
}

bool view_due(const live_view &v, long long now_ms) {
    const long long since = now_ms - v.drawn_ms;
    return v.on && since >= view_interval_ms && (v.changed || since >= 1000);
}

}  // namespace veld
