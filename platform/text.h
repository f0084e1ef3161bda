// 8-bit text services of the system. Windows: the user interface's ANSI case mapping;
// POSIX: the C library's case mapping in the process's current locale.
#pragma once

namespace platform {

// Lower-cases the zero-terminated text in place (CharLowerA). A null text is ignored.
void CharLower(char* text);

} // namespace platform
