// A transcript's final name on Windows: a move that never replaces.
#include "transcript_file.hpp"

#include <windows.h>

#include "system_text.hpp"

namespace veld {

bool take_name(const char *from, const char *to, bool &exists, reason &why) {
    exists = false;
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) return true;  // never replaces
    exists = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
    system_text(GetLastError(), why.text, sizeof why.text);
    return false;
}


}  // namespace veld
