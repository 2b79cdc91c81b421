#include "transfer/command_set.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fwup {

#if defined(_WIN32)
namespace {
bool ansi_lead_byte(std::uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }
}  // namespace

LeadByteTest system_lead_byte_test() { return &ansi_lead_byte; }
#else
// Other systems have no double-byte ANSI code page: bytes are compared one by one.
LeadByteTest system_lead_byte_test() { return nullptr; }
#endif

}  // namespace fwup
