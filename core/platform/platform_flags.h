#pragma once
#include <cstdint>
#include <optional>

namespace fwup {

// The operating system's version record, as far as the program reads it.
struct OsVersion {
    static constexpr std::uint32_t kWindows9x = 1;  // VER_PLATFORM_WIN32_WINDOWS
    static constexpr std::uint32_t kWindowsNt = 2;  // VER_PLATFORM_WIN32_NT

    std::uint32_t platform_id = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    // Set by a system that answers as an NT one but whose USB driver does not
    // vouch for the printer's model as Windows 2000's does: the model is then
    // compared over USB too. Windows leaves it clear.
    bool compare_model_over_usb = false;
};

// Which system family the program runs on; decides whether the USB port
// library is loaded and which checks the procedures make.
struct PlatformFlags {
    bool is_nt = false;
    bool is_win98 = false;
    bool is_win2000 = false;
    // NT 6 and later (Vista to 11): USB printers through the system's own
    // class driver, which the USB port library reaches too.
    bool is_vista_or_later = false;
    // The configured model is looked for in a USB printer's device ID: on the
    // 9x family, and wherever the system asks for it.
    bool usb_model_check = true;
};

// The version query seam: the Win32 adapter asks GetVersionExA; the virtual
// machine answers from its configuration. Empty when the query fails.
class OsVersionSource {
public:
    virtual ~OsVersionSource() = default;
    virtual std::optional<OsVersion> query() = 0;
};

PlatformFlags detect_platform(const OsVersion& version);
// A failed query leaves every flag cleared.
PlatformFlags detect_platform(OsVersionSource& source);

}  // namespace fwup
