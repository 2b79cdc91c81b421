#include "core/config/upgrade_settings.h"

#include <optional>

#include "core/config/profile_reader.h"

namespace fwup {

UpgradeSettings read_upgrade_settings(const Profile& profile) {
    const UpgradeSettings defaults;
    UpgradeSettings settings;

    // The model name is read first because it names the section of every other
    // key; that section is looked up under the name as cut to its buffer.
    settings.model_name = profile.get_string("Download", "Model", defaults.model_name,
                                             UpgradeSettings::kModelNameBuffer);
    const std::string& model = settings.model_name;
    settings.firmware_file = profile.get_string(model, "FW_File", defaults.firmware_file,
                                                UpgradeSettings::kFirmwareFileBuffer);
    settings.file_version = profile.get_int(model, "File_Ver", defaults.file_version);
    settings.esc = profile.get_int(model, "ESC", defaults.esc);
    settings.lpt = profile.get_int(model, "LPT", defaults.lpt);
    settings.demo = profile.get_int(model, "Demo", defaults.demo);
    return settings;
}

UpgradeSettings read_upgrade_settings_file(const std::string& path) {
    const std::optional<Profile> profile = Profile::load(path);
    return read_upgrade_settings(profile ? *profile : Profile{});
}

}  // namespace fwup
