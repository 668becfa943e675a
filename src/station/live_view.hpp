// The live view: the last lines of the terminal (standard error), a row
// per port in conversation and the counts below, made into frames at most
// ten times a second; the writer (writer.hpp) draws them, and clears them
// before whatever else goes to that terminal.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "records.hpp"

namespace veld {

enum class row_state { probing, waiting, sending, finished };

// One port's row.
struct view_row {
    std::string slot;    // its label, its USB path, or empty
    std::string device;
    std::string imei;   // empty until the module says it
    row_state state;
    std::size_t acknowledged, total;  // while sending
    long long opened_ms;              // on the steady clock
    std::string outcome;              // finished: "configured 3/3 in 1.2 s", ...
};

struct live_view {
    bool on;  // standard error is a terminal that moves its cursor, and not --quiet
    std::map<std::size_t, view_row> rows;  // by the port's index
    long long drawn_ms;  // steady clock
    bool changed;        // since it was drawn
};

constexpr long view_interval_ms = 100;

// The view's text for its rows and the counts line, within width columns
// and height lines (rows that do not fit counted in one row), with no line
// end after the last line.
void format_view(const std::map<std::size_t, view_row> &rows, const std::string &counts, long long now_ms,
                 std::size_t width, std::size_t height, std::string &out);

// The row of the port at index, to be changed (made where there is none);
// null when the view is off.
view_row *change_row(live_view &v, std::size_t index);

// A port's row once its record is written. In a watch, a result the
// operator acts on (configured, failed, configured before, a port another
// program holds: "in use") stays in it until the module is pulled; any
// other row goes.
void end_row(live_view &v, std::size_t index, const port_record &r, bool watch);

// The view's next frame, within the terminal's size, with the counts line
// below; the view is drawn as of now_ms.
std::string next_frame(live_view &v, const std::string &counts, long long now_ms);

// Whether it is time to draw: changed, and the last drawing long enough
// ago, or a second past (the rows' seconds).
bool view_due(const live_view &v, long long now_ms);

}  // namespace veld
