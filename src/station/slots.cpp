#include "slots.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "watch.hpp"

namespace veld {

bool read_slots(const char *path, slot_map &map, reason &why) {
    std::FILE *in = std::fopen(path, "rb");
    if (in == nullptr) return fail(why, "%s: %s", path, std::strerror(errno));
    map.slots.clear();
    char text[1024];
    bool good = true;
    for (long number = 1; good && std::fgets(text, sizeof text, in) != nullptr; ++number) {
        if (char *comment = std::strchr(text, '#')) *comment = '\0';
        std::istringstream line(text);
        std::string position, label, more;
        if (!(line >> position)) continue;
        if (!(line >> label) || (line >> more)) {
            good = fail(why, "%s: line %ld: not a position and a label", path, number);
            break;
        }
        for (const auto &slot : map.slots) {
            if (slot.first == position) good = fail(why, "%s: line %ld: %s is given twice", path, number, position.c_str());
            else if (slot.second == label) good = fail(why, "%s: line %ld: the label %s is given twice", path, number, label.c_str());
            if (!good) break;
        }
        map.slots.emplace_back(position, label);
    }
    std::fclose(in);
    return good;
}

std::string slot_of(const slot_map &map, const char *device, const std::string &usb, bool &listed) {
    const std::string identity = device_identity(device);
    listed = true;
    for (const auto &slot : map.slots) {
        if (!usb.empty() && slot.first == usb) return slot.second;
    }
    for (const auto &slot : map.slots) {
        // A port on no USB device, however its path is spelled.
        if (slot.first == device || (!identity.empty() && device_identity(slot.first.c_str()) == identity)) {
            return slot.second;
        }
    }
    listed = false;
    return usb;
}

}  // namespace veld
