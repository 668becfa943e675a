#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "port.hpp"

namespace veld {

static_assert(sizeof(termios) <= sizeof(serial_port::saved), "the port's saved settings fit");

namespace {

// Set in a signal handler and read by every thread: a lock-free atomic
// is both signal-safe and free of races.
std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "the interrupt flag must be lock-free");

// 1 for Ctrl-C and SIGTERM, 2 for a hang-up (SIGHUP: the terminal is gone).
void note_interrupt(int signal) { interrupted = signal == SIGHUP ? 2 : 1; }

struct rate {
    long baud;
    speed_t speed;
};

const rate rates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool find_rate(long baud, speed_t &speed) {
    for (const rate &r : rates) {
        if (r.baud == baud) {
            speed = r.speed;
            return true;
        }
    }
    return false;
}

// What went wrong, for port_refused: the system's words, or ours.
struct open_detail {
    char text[256];
    int error;  // errno, when the system's
};

void say(open_detail &detail, const char *text) {
    std::snprintf(detail.text, sizeof detail.text, "%s", text);
}

void say_errno(open_detail &detail) {
    detail.error = errno;
    say(detail, std::strerror(errno));
}


// The lock file other serial programs keep for a device:
// DIR/LCK..NAME, NAME its path below /dev with each further / made _.
bool lock_file_name(const char *device, char *name, std::size_t len) {
    char real[PATH_MAX];
    if (realpath(device, real) == nullptr) return false;
    const char *rest = std::strncmp(real, "/dev/", 5) == 0 ? real + 5 : real + 1;
    const char *dir = std::getenv("VELDCONF_LOCK_DIR");
    const int n = std::snprintf(name, len, "%s/LCK..", dir != nullptr ? dir : "/var/lock");
    if (n < 0 || n + std::strlen(rest) >= len) return false;
    char *at = name + n;
    for (; *rest != '\0'; ++rest) *at++ = *rest == '/' ? '_' : *rest;
    *at = '\0';
    return true;
}

// The PID a lock file names, or 0 when it names none.
long lock_owner(const char *path) {
    std::FILE *file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    long pid = 0;
    if (std::fscanf(file, "%ld", &pid) != 1) pid = 0;
    std::fclose(file);
    return pid;
}

bool alive(long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

enum class lock_result { taken, not_writable, held };

// Makes the lock file in the form the others write (the PID right-aligned
// in ten characters, then a line end), whole before it appears under its
// name; a file whose process is gone is stale and taken over. owner is
// the live holder's PID.
lock_result take_lock_file(const char *path, long &owner) {
    char temporary[sizeof serial_port::lock + 16];
    std::snprintf(temporary, sizeof temporary, "%s.%ld", path, static_cast<long>(getpid()));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return lock_result::not_writable;
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
        const bool written = write(fd, text, static_cast<std::size_t>(n)) == n;
        close(fd);
        const bool linked = written && link(temporary, path) == 0;
        const int error = errno;
        unlink(temporary);
        if (linked) return lock_result::taken;
        if (!written || error != EEXIST) return lock_result::not_writable;
        owner = lock_owner(path);
        if (alive(owner)) return lock_result::held;
        unlink(path);
    }
    return lock_result::not_writable;
}

void drop_lock_file(serial_port &port) {
    if (port.lock[0] != '\0') unlink(port.lock);
    port.lock[0] = '\0';
}

port_fault fail(serial_port &port, port_fault fault, open_detail &detail) {
    say_errno(detail);
    drop_lock_file(port);
    close(port.fd);
    port.fd = -1;
    return fault;
}

// Opens and sets up the port; returns why it could not (none when it
// could), detail saying more.
port_fault open_raw(serial_port &port, const char *device, long baud, bool rtscts,
                    open_detail &detail) {
    speed_t speed{};
    if (!find_rate(baud, speed)) {
        say(detail, "not a rate a serial port can be set to");
        return port_fault::bad_rate;
    }
    // Non-blocking, so that a port waiting for carrier does not hang open.
    port.fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0) {
        say_errno(detail);
        return errno == ENOENT ? port_fault::gone : port_fault::cannot_open;
    }
    if (!isatty(port.fd)) return fail(port, port_fault::not_a_port, detail);
    // Advisory, but it holds for root too, unlike TIOCEXCL.
    if (flock(port.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            say(detail, "another program holds it");
            close(port.fd);
            port.fd = -1;
            return port_fault::in_use;
        }
        return fail(port, port_fault::cannot_open, detail);
    }
    // The programs that keep off a port by its lock file, not by flock.
    long owner = 0;
    const lock_result lock = lock_file_name(device, port.lock, sizeof port.lock)
                                 ? take_lock_file(port.lock, owner)
                                 : lock_result::not_writable;
    if (lock != lock_result::taken) port.lock[0] = '\0';
    if (lock == lock_result::held) {
        std::snprintf(detail.text, sizeof detail.text, "process %ld holds its lock file", owner);
        close(port.fd);
        port.fd = -1;
        return port_fault::in_use;
    }
    termios raw{};
    if (tcgetattr(port.fd, &raw) != 0) return fail(port, port_fault::not_a_port, detail);
    std::memcpy(port.saved, &raw, sizeof raw);
    cfmakeraw(&raw);
    raw.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    raw.c_cflag |= CS8 | CLOCAL | CREAD | (rtscts ? CRTSCTS : 0);
    raw.c_iflag &= ~(IXON | IXOFF | IXANY);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (cfsetispeed(&raw, speed) != 0 || cfsetospeed(&raw, speed) != 0 ||
        tcsetattr(port.fd, TCSANOW, &raw) != 0) {
        return fail(port, port_fault::cannot_configure, detail);
    }
    port.restore = true;
    // tcsetattr succeeds when any one change took: check that all did.
    termios now{};
    if (tcgetattr(port.fd, &now) != 0 || cfgetospeed(&now) != speed ||
        (now.c_cflag & CSIZE) != CS8 || (now.c_lflag & (ICANON | ECHO)) != 0) {
        say(detail, "the port did not take raw 8N1 at this rate");
        port_close(port);
        return port_fault::cannot_configure;
    }
    tcflush(port.fd, TCIFLUSH);  // what arrived before we listened is stale
    return port_fault::none;
}

}  // namespace

bool port_open(serial_port &port, const char *device, long baud, bool rtscts, reason &why) {
    port.restore = false;
    port.fd = -1;
    port.lock[0] = '\0';
    open_detail detail{};
    const port_fault fault = open_raw(port, device, baud, rtscts, detail);
    port.fault = fault;
    return fault == port_fault::none || port_refused(why, fault, device, baud, detail.text, detail.error == EACCES);
}

long port_read(serial_port &port, char *buffer, std::size_t capacity, long timeout_ms) {
    // In slices: a signal interrupts the wait of one thread only, and the
    // others must see it within a tenth of a second too.
    int ready = 0;
    for (long waited = 0; ready == 0;) {
        if (interrupted) return -2;
        const long slice = timeout_ms - waited < 100 ? timeout_ms - waited : 100;
        if (slice <= 0) return 0;
        pollfd waiting{port.fd, POLLIN, 0};
        ready = poll(&waiting, 1, static_cast<int>(slice));
        if (ready < 0 && errno != EINTR) return -1;
        if (ready < 0) ready = 0;  // another signal (a child's, a resize) cuts the slice short only
        waited += slice;
    }
    for (;;) {
        const ssize_t n = read(port.fd, buffer, capacity);
        if (n > 0) return static_cast<long>(n);
        if (n < 0 && errno == EINTR && !interrupted) continue;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return interrupted ? -2 : 0;
        return -1;  // an error, or the other end hung up
    }
}

int port_write(serial_port &port, const char *data, std::size_t len, long timeout_ms) {
    // In slices, as port_read waits, and no longer than timeout_ms in all.
    for (long waited = 0; len > 0;) {
        if (interrupted) return -2;
        const ssize_t n = write(port.fd, data, len);
        if (n > 0) {
            data += n;
            len -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) return -1;
        const long slice = timeout_ms - waited < 100 ? timeout_ms - waited : 100;
        if (slice <= 0) return -3;
        pollfd waiting{port.fd, POLLOUT, 0};
        if (poll(&waiting, 1, static_cast<int>(slice)) < 0 && errno != EINTR) return -1;
        waited += slice;
    }
    return 0;
}

void port_close(serial_port &port) {
    if (port.fd < 0) return;
    if (port.restore) {
        termios saved{};
        std::memcpy(&saved, port.saved, sizeof saved);
        tcsetattr(port.fd, TCSANOW, &saved);
    }
    drop_lock_file(port);
    close(port.fd);
    port.fd = -1;
}

void port_catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait ends at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool port_interrupted() { return interrupted != 0; }

bool port_hung_up() { return interrupted == 2; }

bool port_console_event(unsigned long) { return false; }

void port_interrupt_handled() {}

}  // namespace veld
