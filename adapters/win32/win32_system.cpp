#include "adapters/win32/win32_system.h"

#include <windows.h>

namespace fwup {

void Win32Clock::sleep_ms(std::uint32_t ms) { Sleep(ms); }

std::uint32_t Win32Clock::tick_ms() { return GetTickCount(); }

std::optional<OsVersion> Win32OsVersion::query() {
    static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the 148-byte record");
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return std::nullopt;
    return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace fwup
