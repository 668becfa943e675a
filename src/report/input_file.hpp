// A text file the station reads (a manifest, a slots file, a report read
// back), taken a line at a time, so that no file costs more memory than
// its longest line: each line is bounded, a directory or a device that
// never ends a line is refused, a leading byte-order mark is passed over
// and a line may end in LF or CR LF.
#pragma once

#include <cstdio>
#include <string>

#include "text.hpp"

namespace veld {

// The longest line taken, its line end aside.
constexpr std::size_t max_input_line = 1 << 20;

struct input_file {
    std::FILE *in;
    long line;  // the number of the line read last, from 1
};

// Opens path; false with the system's reason ("is a directory" for one),
// missing set when there is no such file.
bool input_open(input_file &file, const char *path, bool &missing, reason &why);

enum class input_step { line, end, fault };

// The next line, without its line end; fault with "line N: ..." for a line
// longer than max_input_line, or the system's reason.
input_step input_line(input_file &file, std::string &line, reason &why);

void input_close(input_file &file);

}  // namespace veld
