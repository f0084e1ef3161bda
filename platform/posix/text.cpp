#include "platform/text.h"

#include <cctype>

namespace platform {

void CharLower(char* text) {
    if (text == nullptr)
        return;
    for (char* c = text; *c != '\0'; ++c)
        *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
}

} // namespace platform
