// The terminal the live view is drawn on, standard error: its size, how
// the view's lines are erased, and whether it can be drawn on at all.
#pragma once

#include <cstddef>
#include <string>

namespace veld {

// The terminal's columns and lines; 80 by 24 where it does not say.
void terminal_size(std::size_t &width, std::size_t &height);

// Back to the first of the lines_shown lines the view takes, and
// everything from there erased: escapes appended to out, or on Windows
// at once, by the console's own calls (which every console there takes).
void terminal_erase(std::size_t lines_shown, std::string &out);

// Whether the terminal moves its cursor as the view needs: not where TERM
// is unset or dumb (POSIX), which then gets a line per result alone.
bool terminal_moves_cursor();

}  // namespace veld
