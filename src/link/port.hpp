// A serial port: open it exclusively in raw mode (8N1, the given rate,
// optional RTS/CTS), read with a deadline, write, and put its previous
// settings back. termios on POSIX (port_posix.cpp), Win32 on Windows
// (port_win32.cpp); nothing above this layer knows which. Which rates a
// port can be set to is the platform's to say, here. On POSIX, exclusive means flock and the lock file
// other serial programs keep, LCK..NAME in /var/lock (or in the folder
// VELDCONF_LOCK_DIR names), made while the port is held where the folder
// takes it.
#pragma once

#include <cstddef>

#include "text.hpp"

namespace veld {

// Why a port could not be had. gone: the device is not there (any more);
// not_a_port: it is no terminal.
enum class port_fault { none, bad_rate, cannot_open, gone, in_use, not_a_port, cannot_configure };

struct serial_port {
    void *handle;  // the system's handle (Windows)
    int fd;        // the file descriptor (elsewhere)
    // The settings the port had when it was opened, as the platform's body
    // keeps them.
    alignas(8) unsigned char saved[128];
    long write_timeout_ms;  // as last set (Windows), 0 before the first write
    char lock[512];         // the lock file made for the port, or empty (POSIX)
    bool restore;  // the saved settings are to be put back
    port_fault fault;  // why the last port_open failed
};

// Opens device (a tty path, or COMn) at baud; false with the reason
// ("DEVICE is in use (another program holds it); ...", "cannot open
// DEVICE: ...").
bool port_open(serial_port &port, const char *device, long baud, bool rtscts, reason &why);

// Reads what has arrived, waiting at most timeout_ms for the first byte.
// Returns the byte count, 0 on timeout, -1 on an error or hang-up, -2 when
// interrupted (see port_interrupted).
long port_read(serial_port &port, char *buffer, std::size_t capacity, long timeout_ms);

// Writes all of data within timeout_ms: 0 when done, -1 on an error or
// hang-up, -2 when interrupted, -3 when the port took too little in time
// (flow control held, a stuck adapter).
int port_write(serial_port &port, const char *data, std::size_t len, long timeout_ms);

// Puts the previous settings back and closes the port.
void port_close(serial_port &port);

// Ctrl-C, SIGTERM and SIGHUP (Ctrl-Break and a closed console on Windows)
// end a wait in port_read and are remembered here, so that the port is
// restored before the program ends. SIGPIPE is ignored: a closed pipe is
// a write that fails, said as such.
void port_catch_interrupts();
bool port_interrupted();

// The interruption was the terminal going (SIGHUP; on Windows the console
// closed, a logoff or a shutdown): writes to it may fail from then on.
bool port_hung_up();

// What the program does on a console's event, on Windows (false
// elsewhere, where there are none): Ctrl-C and Ctrl-Break interrupt; a
// closed console, a logoff or a shutdown interrupt too, and it returns
// only once port_interrupt_handled is called (or 4.5 s have passed), as
// the system ends the process when it returns. The handler
// port_catch_interrupts installs, callable in-process for the tests.
bool port_console_event(unsigned long event);

// The program has written its records and restored its ports: a console's
// close may end it now.
void port_interrupt_handled();

// For the two bodies: why a port could not be had, with the system's
// detail, put into the words the programs print. permission: the system
// refused access (a user not in the port's group).
bool port_refused(reason &why, port_fault fault, const char *device, long baud, const char *detail,
                  bool permission);

}  // namespace veld
