#pragma once
#include <cstdint>

namespace fwup {

// Whether a byte begins a two-byte character in the system's ANSI code page:
// Windows answers through IsDBCSLeadByte. nullptr where the system has no
// double-byte ANSI code page, and bytes are then compared one by one.
using AnsiLeadByteTest = bool (*)(std::uint8_t byte);
AnsiLeadByteTest ansi_lead_byte_test();

}  // namespace fwup
