#include "platform/text.h"

#include <windows.h>

// <windows.h> maps CharLower to CharLowerA; this file defines our own platform::CharLower.
#undef CharLower

namespace platform {

void CharLower(char* text) {
    // CharLowerA takes a pointer whose high word is zero for a single character; a pointer
    // to real text never has one.
    if (text != nullptr)
        CharLowerA(text);
}

} // namespace platform
