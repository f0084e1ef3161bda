#include "platform/terminal.h"

#include <windows.h>

namespace platform {

std::string AnsiTextForTerminal(const std::string& text) {
    // A file or a pipe gets the ANSI bytes as they are; a console shows its own code page.
    DWORD mode = 0;
    if (text.empty() || !GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        return text;
    const UINT code_page = GetConsoleOutputCP();
    if (code_page == 0 || code_page == GetACP())
        return text;
    // ANSI to UTF-16 to the console's code page.
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (units <= 0)
        return text;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], units);
    const int bytes =
        WideCharToMultiByte(code_page, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), units, &out[0], bytes, nullptr, nullptr);
    return out;
}

} // namespace platform
