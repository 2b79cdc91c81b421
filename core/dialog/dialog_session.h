#pragma once
#include <functional>

#include "core/dialog/dialog_controls.h"
#include "core/dialog/dialog_policy.h"
#include "core/dialog/upgrade_dialog.h"
#include "core/worker/procedure_runner.h"

namespace fwup {

// A window's side of the dialog, whatever draws it: the logic, the worker its
// procedures run on, and the rule that says what each event does. A front end
// owns one, hands it every event and does only what the answer leaves to it
// (ending the dialog with the framework's result, refusing the session's end).
class DialogSession {
public:
    // `controls` is the front end's, reachable from the worker; `notify` must
    // get the UI thread to call procedure_finished() (a posted message).
    DialogSession(UpgradeDialog& logic, DialogControls& controls, std::function<void()> notify);

    // Acts on the event as decide() says and returns what it decided: a click
    // has been handed to the logic (here or on the worker) when it returns.
    DialogAction handle(DialogEvent event, int control_id = 0);

    // A procedure runs (the worker's, or one the logic runs itself).
    bool busy() const { return runner_.busy() || logic_.busy(); }
    // The dialog has ended; every later event is ignored.
    void mark_ended() { ended_ = true; }
    bool ended() const { return ended_; }

    // The worker's notice has arrived on the UI thread.
    void procedure_finished() { runner_.finished(); }
    // Waits for a running procedure without its notice (the window is gone).
    void wait() { runner_.wait(); }

    UpgradeDialog& logic() { return logic_; }
    WaitCursorCount& wait_cursor() { return wait_cursor_; }

private:
    UpgradeDialog& logic_;
    DialogControls& controls_;
    ProcedureRunner runner_;
    WaitCursorCount wait_cursor_;
    bool ended_ = false;
};

}  // namespace fwup
