#include "core/dialog/upgrade_dialog.h"

#include <utility>

#include "core/transfer/command_set.h"

namespace fwup {

std::string dialog_title(bool demo, bool virtual_machine) {
    const std::string title = demo ? std::string(kDemoTitle) + " (" + kDemoRevision + ")"
                                   : std::string(kUpgradeTitle) + " (" + kUpgradeRevision + ")";
    return virtual_machine ? kVirtualMachineTitlePrefix + title : title;
}

UpgradeDialog::UpgradeDialog(const UpgradeSettings& settings, const PlatformFlags& flags,
                             DialogServices services)
    : settings_(settings), flags_(flags), services_(std::move(services)) {}

void UpgradeDialog::show_texts(DialogControls& controls) const {
    controls.set_text(IDC_MODEL_NAME, model_text_);
    controls.set_text(IDC_FW_FILE, image_file_text_);
    controls.set_text(IDC_FILE_VERSION, image_version_text_);
}

bool UpgradeDialog::initialise(DialogControls& controls) {
    // The texts start empty, as the controls show them until binding is done.
    show_texts(controls);
    model_text_ = settings_.model_name;
    image_file_text_ = settings_.firmware_file;
    image_version_text_ = version_text(settings_.file_version);

    const bool demo = settings_.demo != 0;
    controls.set_title(dialog_title(demo, !services_.virtual_machine.empty()));
    if (demo) controls.set_text(IDC_UPGRADE_NOW, kDownloadNowCaption);

    const BindResult bound =
        bind_usb_port_library(flags_, services_.loader, services_.library_path, usb_, controls,
                              services_.library_file);
    if (bound == BindResult::LibraryMissing || bound == BindResult::ExportMissing) return false;

    show_texts(controls);
    return true;
}

template <class Procedure>
void UpgradeDialog::run(DialogControls& controls, Procedure procedure) {
    if (busy_.exchange(true)) return;
    TransferContext context{settings_,        flags_,          usb_,     services_.ports,
                            services_.images, services_.clock, controls, state_,
                            [this, &controls] { exit(controls); }, services_.is_lead_byte};
    procedure(context);
    busy_.store(false);
}

void UpgradeDialog::verify(DialogControls& controls) {
    run(controls, [](TransferContext& context) { fwup::verify(context); });
}

void UpgradeDialog::download(DialogControls& controls) {
    run(controls, [](TransferContext& context) { fwup::download(context); });
}

void UpgradeDialog::exit(DialogControls& controls) { exit_dialog(usb_, controls); }

bool UpgradeDialog::on_command(int control_id, DialogControls& controls) {
    switch (control_id) {
        case IDC_UPGRADE_NOW:
            download(controls);
            return true;
        case IDC_EXIT:
            if (!busy()) exit(controls);
            return true;
        case IDC_VERIFY:
            verify(controls);
            return true;
        default:
            return false;
    }
}

}  // namespace fwup
