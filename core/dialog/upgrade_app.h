#pragma once
#include <functional>
#include <string>

#include "core/config/upgrade_settings.h"
#include "core/dialog/upgrade_dialog.h"
#include "core/platform/platform_flags.h"

namespace fwup {

// The settings file every program reads, from the current directory.
inline constexpr char kSettingsFile[] = "FWINFO.INI";

struct AppEnvironment {
    OsVersionSource& os;
    DialogServices services;
    std::string settings_file = kSettingsFile;
};

// The program's start-up: settings, platform, then the one modal dialog.
class UpgradeApp {
public:
    // Shows the dialog modally and returns when it has ended. The front end
    // creates the window, calls UpgradeDialog::initialise, and feeds it clicks.
    using RunDialog = std::function<void(UpgradeDialog&)>;

    explicit UpgradeApp(AppEnvironment environment);

    // Reads the settings, detects the platform and runs the dialog. Always
    // false: no message loop is to follow the dialog, the program ends.
    bool init_instance(const RunDialog& run_dialog);

    const UpgradeSettings& settings() const { return settings_; }
    const PlatformFlags& flags() const { return flags_; }

private:
    AppEnvironment environment_;
    UpgradeSettings settings_;
    PlatformFlags flags_;
};

}  // namespace fwup
