#include <cstdio>
#include <cstring>

#include <windows.h>

#include "port.hpp"
#include "system_text.hpp"

namespace veld {

namespace {

// What the port's settings were, kept in serial_port::saved.
struct saved_settings {
    DCB state;
    COMMTIMEOUTS timeouts;
};
static_assert(sizeof(saved_settings) <= sizeof(serial_port::saved), "the port's saved settings fit");

volatile LONG interrupted = 0;
HANDLE handled = nullptr;  // set once the records are written and the ports restored

// The system ends the process about 5 s after a close, a logoff or a
// shutdown event, and at once when its handler returns.
constexpr DWORD close_wait_ms = 4500;

BOOL WINAPI note_interrupt(DWORD event) { return port_console_event(event) ? TRUE : FALSE; }

void say(char *why, std::size_t len, DWORD error) { system_text(error, why, len); }

port_fault fail(serial_port &port, port_fault fault, char *why, std::size_t len) {
    say(why, len, GetLastError());
    port_close(port);
    return fault;
}

// COM10 and above open only as \\.\COMn; the form works for all.
void device_path(const char *device, char *path, std::size_t len) {
    if (std::strncmp(device, "\\\\.\\", 4) == 0) {
        std::snprintf(path, len, "%s", device);
    } else {
        std::snprintf(path, len, "\\\\.\\%s", device);
    }
}

// Opens and sets up the port; returns why it could not (none when it
// could), why saying more.
port_fault open_raw(serial_port &port, const char *device, long baud, bool rtscts, char *why,
                    std::size_t why_len) {
    if (baud < 110 || baud > 4000000) {
        std::snprintf(why, why_len, "not a rate a serial port can be set to");
        return port_fault::bad_rate;
    }
    char path[300];
    device_path(device, path, sizeof path);
    // No sharing: a second sender is refused by the system itself.
    port.handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port.handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        say(why, why_len, error);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return port_fault::gone;
        return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                   ? port_fault::in_use
                   : port_fault::cannot_open;
    }
    saved_settings kept{};
    kept.state.DCBlength = sizeof kept.state;
    if (!GetCommState(port.handle, &kept.state) || !GetCommTimeouts(port.handle, &kept.timeouts)) {
        return fail(port, port_fault::not_a_port, why, why_len);
    }
    std::memcpy(port.saved, &kept, sizeof kept);
    DCB state = kept.state;
    state.BaudRate = static_cast<DWORD>(baud);
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = TRUE;
    state.fParity = FALSE;
    state.fOutxCtsFlow = rtscts ? TRUE : FALSE;
    state.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    state.fOutxDsrFlow = FALSE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fDsrSensitivity = FALSE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    state.fAbortOnError = FALSE;
    if (!SetCommState(port.handle, &state)) {
        const DWORD error = GetLastError();
        say(why, why_len, error);
        port_close(port);
        return error == ERROR_INVALID_PARAMETER ? port_fault::bad_rate
                                                : port_fault::cannot_configure;
    }
    port.restore = true;
    PurgeComm(port.handle, PURGE_RXCLEAR);
    return port_fault::none;
}

}  // namespace

bool port_open(serial_port &port, const char *device, long baud, bool rtscts, reason &why) {
    port.restore = false;
    port.handle = INVALID_HANDLE_VALUE;
    port.write_timeout_ms = 0;
    char detail[256];
    const port_fault fault = open_raw(port, device, baud, rtscts, detail, sizeof detail);
    port.fault = fault;
    return fault == port_fault::none || port_refused(why, fault, device, baud, detail, false);
}

long port_read(serial_port &port, char *buffer, std::size_t capacity, long timeout_ms) {
    // In slices, so that Ctrl-C is seen within a tenth of a second.
    for (long waited = 0;;) {
        if (interrupted) return -2;
        const long slice = timeout_ms - waited < 100 ? timeout_ms - waited : 100;
        COMMTIMEOUTS timeouts{};
        // Return what has arrived as soon as a byte is there, else wait.
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(slice > 0 ? slice : 1);
        timeouts.WriteTotalTimeoutConstant = port.write_timeout_ms;
        DWORD n = 0;
        if (!SetCommTimeouts(port.handle, &timeouts) ||
            !ReadFile(port.handle, buffer, static_cast<DWORD>(capacity), &n, nullptr)) {
            return -1;
        }
        if (n > 0) return static_cast<long>(n);
        waited += slice;
        if (waited >= timeout_ms) return interrupted ? -2 : 0;
    }
}

int port_write(serial_port &port, const char *data, std::size_t len, long timeout_ms) {
    // The write's own deadline, whatever the last read set.
    if (port.write_timeout_ms != timeout_ms) {
        COMMTIMEOUTS timeouts{};
        if (!GetCommTimeouts(port.handle, &timeouts)) return -1;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeout_ms > 0 ? timeout_ms : 1);
        if (!SetCommTimeouts(port.handle, &timeouts)) return -1;
        port.write_timeout_ms = timeout_ms;
    }
    while (len > 0) {
        if (interrupted) return -2;
        DWORD n = 0;
        if (!WriteFile(port.handle, data, static_cast<DWORD>(len), &n, nullptr)) return interrupted ? -2 : -1;
        if (n == 0) return interrupted ? -2 : -3;  // the write timed out
        data += n;
        len -= n;
    }
    return 0;
}

void port_close(serial_port &port) {
    if (port.handle == INVALID_HANDLE_VALUE || port.handle == nullptr) return;
    if (port.restore) {
        saved_settings kept{};
        std::memcpy(&kept, port.saved, sizeof kept);
        SetCommState(port.handle, &kept.state);
        SetCommTimeouts(port.handle, &kept.timeouts);
    }
    CloseHandle(port.handle);
    port.handle = INVALID_HANDLE_VALUE;
}

void port_catch_interrupts() {
    if (handled == nullptr) handled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(note_interrupt, TRUE);
}

bool port_console_event(unsigned long event) {
    // 1 for Ctrl-C and Ctrl-Break, 2 when the console goes.
    const bool gone = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    InterlockedExchange(&interrupted, gone ? 2 : 1);
    if (gone && handled != nullptr) WaitForSingleObject(handled, close_wait_ms);
    return true;  // handled: the program restores its ports and ends itself
}

void port_interrupt_handled() {
    if (handled != nullptr) SetEvent(handled);
}

bool port_interrupted() { return interrupted != 0; }

bool port_hung_up() { return interrupted == 2; }

}  // namespace veld
