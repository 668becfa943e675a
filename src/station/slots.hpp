// The fixture's slots: which label (A1, A2, ...) each position carries,
// from a file of lines "USB-PATH LABEL" (the USB interface a port hangs
// on, such as 1-1.3:1.2) or "DEVICE LABEL" (a port on no USB device);
// blank lines and lines from # on are passed over; lines as input_file.hpp
// reads them, without control bytes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "text.hpp"

namespace veld {

struct slot_map {
    std::vector<std::pair<std::string, std::string>> slots;  // USB path or device, label
};

// Reads path; false with "PATH: line N: ..." (a line that is not two
// words, a position or a label given twice).
bool read_slots(const char *path, slot_map &map, reason &why);

// The slot of the port at device, which hangs on usb (or on nothing, when
// empty): its label when the map lists it (listed then set), else the USB
// path, else empty.
std::string slot_of(const slot_map &map, const char *device, const std::string &usb, bool &listed);

}  // namespace veld
