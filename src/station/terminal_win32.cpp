#include "terminal.hpp"

#include <cstdio>

#include <windows.h>

namespace veld {

void terminal_size(std::size_t &width, std::size_t &height) {
    width = 80;
    height = 24;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        width = static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
        height = static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1);
    }
}

void terminal_erase(std::size_t lines_shown, std::string &) {
    std::fflush(stderr);
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return;
    const SHORT up = static_cast<SHORT>(lines_shown > 1 ? lines_shown - 1 : 0);
    const COORD first = {0, static_cast<SHORT>(info.dwCursorPosition.Y > up ? info.dwCursorPosition.Y - up : 0)};
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y - first.Y);
    DWORD done = 0;
    FillConsoleOutputCharacterA(console, ' ', cells, first, &done);
    FillConsoleOutputAttribute(console, info.wAttributes, cells, first, &done);
    SetConsoleCursorPosition(console, first);
}

bool terminal_moves_cursor() { return true; }

}  // namespace veld
