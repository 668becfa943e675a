#include "slots.hpp"

#include <algorithm>
#include <set>
#include <sstream>

#include "input_file.hpp"
#include "watch.hpp"

namespace veld {

bool read_slots(const char *path, slot_map &map, reason &why) {
    map.slots.clear();
    input_file in{};
    bool missing = false;
    if (!input_open(in, path, missing, why)) return fail(why, "%s: %s", path, reason{why}.text);
    std::string text;
    std::set<std::string> positions, labels;
    bool good = true;
    for (input_step step; good && (step = input_line(in, text, why)) != input_step::end;) {
        if (step == input_step::fault) {
            good = fail(why, "%s: %s", path, reason{why}.text);
            break;
        }
        text.erase(std::min(text.find('#'), text.size()));
        const auto control = std::find_if(text.begin(), text.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
        });
        if (control != text.end()) {
            good = fail(why, "%s: line %ld: a control byte (\\x%02X)", path, in.line, static_cast<unsigned char>(*control));
            break;
        }
        std::istringstream line(text);
        std::string position, label, more;
        if (!(line >> position)) continue;
        if (!(line >> label) || (line >> more)) {
            good = fail(why, "%s: line %ld: not a position and a label", path, in.line);
        } else if (!positions.insert(position).second) {
            good = fail(why, "%s: line %ld: %s is given twice", path, in.line, position.c_str());
        } else if (!labels.insert(label).second) {
            good = fail(why, "%s: line %ld: the label %s is given twice", path, in.line, label.c_str());
        }
        map.slots.emplace_back(position, label);
    }
    input_close(in);
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
