// The console's close on Windows, which no Wine can raise: its handler is
// called in-process, as the system calls it on its own thread. It must
// interrupt the program, and return only once the program says its
// records are written and its ports restored (the system ends the process
// when it returns); Ctrl-C's returns at once.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "port.hpp"

namespace {

int failures = 0;

void check(bool holds, const char *what) {
    if (holds) return;
    std::printf("FAIL: %s\n", what);
    ++failures;
}

}  // namespace

int main() {
    veld::port_catch_interrupts();
    std::atomic<bool> returned{false};
    std::thread system([&returned] {
        veld::port_console_event(CTRL_CLOSE_EVENT);
        returned = true;
    });
    Sleep(500);
    check(veld::port_interrupted(), "a closed console interrupts the program");
    check(veld::port_hung_up(), "a closed console is the terminal gone");
    check(!returned, "the handler returned before the records were written");
    veld::port_interrupt_handled();
    system.join();
    check(returned, "the handler returns once the records are written");
    const DWORD before = GetTickCount();
    veld::port_console_event(CTRL_C_EVENT);
    check(GetTickCount() - before < 1000, "Ctrl-C's handler returns at once");
    std::printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
