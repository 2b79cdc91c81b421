#include "core/dialog/dialog_template.h"

namespace fwup {

namespace {

using K = ControlKind;

// The progress bar lies exactly over "Verify Information" and starts hidden;
// "Upgrade Now" starts disabled until a verify finds the printer ready.
constexpr ControlTemplate kControls[] = {
    {IDC_EXIT, K::PushButton, "Exit", 117, 113, 70, 14, true, true, false},
    {IDC_UPGRADE_NOW, K::PushButton, "Upgrade Now", 25, 113, 70, 14, false, true, false},
    {IDC_VERIFY, K::PushButton, "Verify Information", 37, 85, 139, 15, true, true, false},
    {kNoControlId, K::Label, "Model Name:", 36, 19, 50, 8, true, true, false},
    {IDC_MODEL_NAME, K::Label, "...", 96, 19, 80, 8, true, true, false},
    {kNoControlId, K::Label, "F/W File:", 36, 32, 50, 8, true, true, false},
    {IDC_FW_FILE, K::Label, "...", 96, 32, 80, 8, true, true, false},
    {kNoControlId, K::Label, "File Version:", 36, 45, 50, 8, true, true, false},
    {IDC_FILE_VERSION, K::Label, "...", 96, 45, 80, 8, true, true, false},
    {kNoControlId, K::Label, "F/W Version:", 36, 58, 50, 8, true, true, false},
    {IDC_FW_VERSION, K::Label, "...", 96, 58, 80, 8, true, true, false},
    {IDC_STATUS, K::Label, "", 13, 143, 186, 8, true, true, false},
    {kNoControlId, K::GroupBox, "", 5, 137, 200, 17, true, true, false},
    {IDC_PROGRESS, K::ProgressBar, "", 37, 85, 139, 15, true, false, true},
};

constexpr DialogTemplate kUpgradeDialog{"F/W Upgrade Utility", "MS Sans Serif", 10, 210, 157, kControls};

}  // namespace

const ControlTemplate* DialogTemplate::find(int control_id) const {
    for (const ControlTemplate& control : controls) {
        if (control.id == control_id && control_id != kNoControlId) return &control;
    }
    return nullptr;
}

const DialogTemplate& upgrade_dialog_template() { return kUpgradeDialog; }

}  // namespace fwup
