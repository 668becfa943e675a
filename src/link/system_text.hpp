// The system's words for one of its error codes, on Windows, where the
// link, the station's files and its watch all say them the same way: the
// message without its line end or final full stop, or "error N".
#pragma once

#include <cstddef>

namespace veld {

void system_text(unsigned long error, char *text, std::size_t len);

}  // namespace veld
