// Paths as the host gives them, in Windows form, turned into POSIX ones for the calls here.
#pragma once

#include <string>

namespace platform {

// The path with every "\" turned into "/"; a null path is empty.
inline std::string NativePath(const char* path) {
    std::string native(path != nullptr ? path : "");
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}

} // namespace platform
