#pragma once
#include <cstdint>
#include <string>

namespace fwup {

// The system's own text for an error code (FormatMessageA), as the system
// words it; empty when the system has no text for it.
std::string system_error_text(std::uint32_t code);

}  // namespace fwup
