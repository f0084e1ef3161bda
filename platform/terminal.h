// The terminal that standard output goes to, for rizi-host. Windows: the console's code page;
// POSIX: the character set of the user's locale. The plug-in never links this module.
#pragma once

#include <string>

namespace platform {

// The 8-bit ANSI text as the terminal on standard output shows it. Windows: converted to the
// console's output code page when standard output is a console; POSIX: converted to UTF-8
// (reading the text as Windows-1252) when the user's locale (LC_CTYPE) uses UTF-8. Otherwise,
// and when a conversion fails, the bytes unchanged.
std::string AnsiTextForTerminal(const std::string& text);

} // namespace platform
