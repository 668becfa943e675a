#include "system_text.hpp"

#include <cstdio>

#include <windows.h>

namespace veld {

void system_text(unsigned long error, char *text, std::size_t len) {
    char said[256];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(error), 0, said, sizeof said, nullptr);
    DWORD end = n;
    while (end > 0 && (said[end - 1] == '\r' || said[end - 1] == '\n' || said[end - 1] == '.')) --end;
    said[end] = '\0';
    if (end == 0) std::snprintf(said, sizeof said, "error %lu", error);
    std::snprintf(text, len, "%s", said);
}

}  // namespace veld
