#include "core/platform/platform_flags.h"

namespace fwup {

PlatformFlags detect_platform(const OsVersion& version) {
    PlatformFlags flags;  // every flag starts cleared
    if (version.platform_id == OsVersion::kWindows9x) {
        // Only 4.10 is Windows 98; 95 (4.0) and Me (4.90) have no USB port library.
        flags.is_win98 = version.minor == 10;
    } else if (version.platform_id == OsVersion::kWindowsNt) {
        flags.is_nt = true;
        flags.is_win2000 = version.major == 5;
        flags.is_vista_or_later = version.major >= 6;
    }
    // Windows 2000's USB printer driver is trusted to name the right device.
    flags.usb_model_check = !flags.is_nt || version.compare_model_over_usb;
    return flags;
}

PlatformFlags detect_platform(OsVersionSource& source) {
    const std::optional<OsVersion> version = source.query();
    return version ? detect_platform(*version) : PlatformFlags{};
}

}  // namespace fwup
