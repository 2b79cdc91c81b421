#include "core/dialog/upgrade_dialog.h"

#include <utility>

#include "core/transfer/command_set.h"

namespace fwup {

namespace {

// Forwards every change to the window and keeps the last status text.
class StatusTap final : public DialogControls {
public:
    explicit StatusTap(DialogControls& inner) : inner_(inner) {}
    const std::string& status() const { return status_; }

    void set_title(const std::string& text) override { inner_.set_title(text); }
    void set_text(int control_id, const std::string& text) override {
        if (control_id == IDC_STATUS) status_ = text;
        inner_.set_text(control_id, text);
    }
    void enable(int control_id, bool enabled) override { inner_.enable(control_id, enabled); }
    void show(int control_id, bool visible) override { inner_.show(control_id, visible); }
    void set_progress_range(std::uint32_t upper) override { inner_.set_progress_range(upper); }
    void set_progress_pos(std::uint32_t pos) override { inner_.set_progress_pos(pos); }
    void begin_wait_cursor() override { inner_.begin_wait_cursor(); }
    void end_wait_cursor() override { inner_.end_wait_cursor(); }
    bool ask_yes_no(const std::string& text, const std::string& caption) override {
        return inner_.ask_yes_no(text, caption);
    }
    void message_box(const std::string& text, const std::string& caption, MessageIcon icon) override {
        inner_.message_box(text, caption, icon);
    }
    void end_dialog(int result) override { inner_.end_dialog(result); }

private:
    DialogControls& inner_;
    std::string status_;
};

}  // namespace

std::string dialog_title(bool demo, bool virtual_machine, const std::string& printer) {
    std::string title = demo ? std::string(kDemoTitle) + " (" + kDemoRevision + ")"
                             : std::string(kUpgradeTitle) + " (" + kUpgradeRevision + ")";
    if (!printer.empty()) title += " - " + printer;
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
    controls.set_title(dialog_title(demo, !services_.virtual_machine.empty(), services_.printer));
    if (demo) controls.set_text(IDC_UPGRADE_NOW, kDownloadNowCaption);

    const BindResult bound =
        bind_usb_port_library(flags_, services_.loader, services_.library_path, usb_, controls,
                              services_.library_file);
    if (bound == BindResult::LibraryMissing || bound == BindResult::ExportMissing) return false;

    show_texts(controls);
    return true;
}

template <class Procedure>
bool UpgradeDialog::run(DialogControls& controls, Procedure procedure) {
    if (busy_.exchange(true)) return false;
    TransferContext context{settings_,        flags_,          usb_,     services_.ports,
                            services_.images, services_.clock, controls, state_,
                            [this, &controls] { exit(controls); }, services_.is_lead_byte, services_.network};
    procedure(context);
    busy_.store(false);
    return true;
}

void UpgradeDialog::verify(DialogControls& controls) {
    run(controls, [](TransferContext& context) { fwup::verify(context); });
}

void UpgradeDialog::download(DialogControls& controls) {
    const auto procedure = [](TransferContext& context) { fwup::download(context); };
    if (!services_.after_download) {
        run(controls, procedure);
        return;
    }
    StatusTap tap(controls);
    if (run(tap, procedure) && state_.facts.download_command_sent) services_.after_download(state_.facts, tap.status());
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
