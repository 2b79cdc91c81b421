#pragma once

namespace fwup {

// What may happen to the dialog while it shows: a button, the framework's own
// OK and cancel commands, and the end of the user's session.
enum class DialogEvent {
    Button,        // a click on a control of the template (its id goes with it)
    EnterKey,      // the framework's OK command
    EscapeKey,     // the framework's cancel command
    CloseBox,      // the window's close box, also the cancel command
    EndOfSession,  // the user logs off or the system shuts down
};

// What the front end does about it.
enum class DialogAction {
    Ignore,           // refused: a procedure runs, or the dialog has ended
    RunOnUiThread,    // hand the click to the dialog's logic here (Exit)
    RunOnWorker,      // hand the click to the logic on the worker (Verify, Upgrade Now)
    EndWithOk,        // end the dialog with kDialogResultOk
    EndWithCancel,    // end the dialog with kDialogResultCancel
    AllowEndSession,  // let the session end
};

// The one rule every window around UpgradeDialog follows. While a procedure
// runs nothing else starts and nothing ends the dialog or the session: a
// firmware write cut short leaves the printer unusable. The procedures run on
// a worker so the window keeps painting and the progress bar moving; Exit
// runs at once, and a click on any other id is the logic's to ignore.
DialogAction decide(DialogEvent event, int control_id, bool busy, bool ended);

// The wait cursor's count: procedures may nest their waits; the cursor turns
// to the hourglass on the first and back on the last end.
class WaitCursorCount {
public:
    // True when the cursor must turn to the hourglass now.
    bool begin() { return ++depth_ == 1; }
    // True when it must turn back now; an end without a begin changes nothing.
    bool end() { return depth_ > 0 && --depth_ == 0; }
    bool shown() const { return depth_ > 0; }

private:
    int depth_ = 0;
};

}  // namespace fwup
