#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fwup {

class Profile;

// What FWINFO.INI tells the program; filled once at start and never written back.
struct UpgradeSettings {
    static constexpr std::size_t kModelNameBuffer = 128;    // at most 127 characters
    static constexpr std::size_t kFirmwareFileBuffer = 64;  // at most 63 characters

    std::string model_name = "Unknown";     // [Download] Model; also names the model section
    std::string firmware_file = "Unknown";  // [model] FW_File
    std::int32_t file_version = 100;        // [model] File_Ver, hundredths (106 = 1.06)
    std::int32_t esc = 0;                   // [model] ESC: non-zero selects the ESC command variant
    std::int32_t lpt = 1;                   // [model] LPT: 1..3 name LPT1..LPT3
    std::int32_t demo = 0;                  // [model] Demo: non-zero is Download Demo mode
};

UpgradeSettings read_upgrade_settings(const Profile& profile);
// Reads the file with private-profile semantics; a missing file yields the defaults.
UpgradeSettings read_upgrade_settings_file(const std::string& path = "FWINFO.INI");

}  // namespace fwup
