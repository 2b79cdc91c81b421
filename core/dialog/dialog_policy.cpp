#include "core/dialog/dialog_policy.h"

#include "core/dialog/control_ids.h"

namespace fwup {

DialogAction decide(DialogEvent event, int control_id, bool busy, bool ended) {
    if (busy) return DialogAction::Ignore;
    if (event == DialogEvent::EndOfSession) return DialogAction::AllowEndSession;
    if (ended) return DialogAction::Ignore;
    switch (event) {
        case DialogEvent::Button:
            return control_id == IDC_UPGRADE_NOW || control_id == IDC_VERIFY ? DialogAction::RunOnWorker
                                                                               : DialogAction::RunOnUiThread;
        case DialogEvent::EnterKey:
            return DialogAction::EndWithOk;
        case DialogEvent::EscapeKey:
        case DialogEvent::CloseBox:
            return DialogAction::EndWithCancel;
        case DialogEvent::EndOfSession:
            break;
    }
    return DialogAction::Ignore;
}

}  // namespace fwup
