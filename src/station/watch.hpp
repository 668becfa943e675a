// The serial ports present now, for a watch: the paths the patterns (globs)
// match, by default /dev/ttyUSB* and /dev/ttyACM*. On Windows the COM ports
// the system lists that the patterns (names, with * and ?, case aside)
// match, by default all; a pattern that is one name is also found by
// opening it, as a port the system maps only when it is opened. Each with
// what tells its device from another, so that two paths to one port are
// one port.
#pragma once

#include <string>
#include <vector>

#include "scheduler.hpp"
#include "text.hpp"

namespace veld {

// The ports present now into found; false with the system's reason when
// the system cannot list them (found is then no listing). held: the
// ports the station has open or is about to open, which are never opened
// to see whether they are there.
bool list_ports(const std::vector<const char *> &patterns, const std::vector<std::string> &held,
                std::vector<listed_port> &found, reason &why);

// What tells the device at path from another: the device number of what
// it leads to (on Windows the COM name, case aside); empty when it leads
// to no device.
std::string device_identity(const char *path);

// Where the port at path hangs on the USB tree: its interface's path, such
// as 1-1.3:1.2, read from sysfs (/sys, or the folder VELDCONF_SYSFS names)
// by the device number; empty for a port on no USB device, and on Windows.
std::string usb_path(const char *path);

// Whether a ModemManager process runs (read from /proc, or the folder
// VELDCONF_PROC names): it probes new serial ports and takes answers meant
// for the station. Never on Windows.
bool modem_manager_runs();

}  // namespace veld
