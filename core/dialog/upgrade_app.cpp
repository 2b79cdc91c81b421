#include "core/dialog/upgrade_app.h"

#include <utility>

namespace fwup {

UpgradeApp::UpgradeApp(AppEnvironment environment) : environment_(std::move(environment)) {}

bool UpgradeApp::init_instance(const RunDialog& run_dialog) {
    settings_ = read_upgrade_settings_file(environment_.settings_file);
    flags_ = detect_platform(environment_.os);
    UpgradeDialog dialog(settings_, flags_, environment_.services);
    if (run_dialog) run_dialog(dialog);
    return false;
}

}  // namespace fwup
