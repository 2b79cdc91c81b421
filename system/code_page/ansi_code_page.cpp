#include "system/code_page/ansi_code_page.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fwup {

#if defined(_WIN32)
namespace {
bool ansi_lead_byte(std::uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }
}  // namespace

AnsiLeadByteTest ansi_lead_byte_test() { return &ansi_lead_byte; }
#else
AnsiLeadByteTest ansi_lead_byte_test() { return nullptr; }
#endif

}  // namespace fwup
