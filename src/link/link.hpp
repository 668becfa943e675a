// A byte link to a module, as the conversation sees it: read with a
// deadline, write, and a steady clock in milliseconds for the deadlines.
// The session gives it a serial port and the real clock; the tests give
// it bytes held in memory and a clock of their own that a wait advances,
// so that nothing there sleeps.
#pragma once

#include <cstddef>

namespace veld {

struct link {
    void *context;
    // Reads what has arrived, waiting at most timeout_ms for the first
    // byte: the byte count, 0 on timeout, -1 on an error or hang-up, -2
    // when interrupted.
    long (*read)(void *context, char *buffer, std::size_t capacity, long timeout_ms);
    // Writes all of data within timeout_ms: 0 when done, -1 on an error or
    // hang-up, -2 when interrupted, -3 when the link took too little in time.
    int (*write)(void *context, const char *data, std::size_t len, long timeout_ms);
    long long (*now_ms)(void *context);
};

}  // namespace veld
