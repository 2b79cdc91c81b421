#include "core/dialog/dialog_session.h"

#include <utility>

namespace fwup {

DialogSession::DialogSession(UpgradeDialog& logic, DialogControls& controls, std::function<void()> notify)
    : logic_(logic), controls_(controls), runner_(std::move(notify)) {}

DialogAction DialogSession::handle(DialogEvent event, int control_id) {
    const DialogAction action = decide(event, control_id, busy(), ended_);
    switch (action) {
        case DialogAction::RunOnWorker:
            runner_.start([this, control_id] { logic_.on_command(control_id, controls_); });
            break;
        case DialogAction::RunOnUiThread:
            logic_.on_command(control_id, controls_);
            break;
        case DialogAction::EndWithOk:
        case DialogAction::EndWithCancel:
            ended_ = true;
            break;
        case DialogAction::Ignore:
        case DialogAction::AllowEndSession:
            break;
    }
    return action;
}

}  // namespace fwup
