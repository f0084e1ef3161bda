// For tests only: the zone layer's conversion of names to a code page, which tests drive with
// code pages other than the machine's own.
#pragma once

#include "platform/zone.h"

#include <cstdint>

namespace platform {

// The replacement for characters that the code page lacks, as WideCharToMultiByte takes it:
// "?", or null for the code pages that accept none (UTF-8, UTF-7).
const char* ReplacementCharFor(std::uint32_t code_page);

// Converts a zone name (at most ZoneNameUnits units, zero-terminated when shorter) to the
// code page, as many whole characters as fit in ZoneNameUnits bytes of out; unmappable ones
// become "?". The count of bytes written, 0 for an empty name or a failed conversion.
int ZoneNameToCodePage(std::uint32_t code_page, const char16_t* name, char* out);

} // namespace platform
