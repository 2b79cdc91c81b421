#pragma once
#include <QDialog>

#include <map>
#include <memory>
#include <string>

#include "core/dialog/dialog_controls.h"
#include "core/dialog/dialog_session.h"
#include "core/dialog/upgrade_dialog.h"

class QCloseEvent;
class QProgressBar;

namespace fwup {

// Dialog units of the Windows template to pixels, from the dialog font: one
// horizontal unit is a quarter of the font's average character width, one
// vertical unit an eighth of its height.
struct DialogUnits {
    int base_x;  // average character width, pixels
    int base_y;  // character height, pixels
    int x(int units) const { return (units * base_x + 2) / 4; }
    int y(int units) const { return (units * base_y + 4) / 8; }
};

// The main dialog on a Linux desktop, with Qt Widgets: the dialog template's
// controls, texts, initial states and layout, driven by UpgradeDialog.
//
// The session decides what each click, key, the close box and the end of the
// user's session does (procedures on a worker thread, nothing while one
// runs); every control change a procedure makes is carried to the window's
// thread and done there (message boxes included), and the worker waits for it.
class QtDialogWindow final : public QDialog {
public:
    explicit QtDialogWindow(UpgradeDialog& logic, QWidget* parent = nullptr);
    ~QtDialogWindow() override;
    QtDialogWindow(const QtDialogWindow&) = delete;
    QtDialogWindow& operator=(const QtDialogWindow&) = delete;

    // Initialises the dialog and, unless that ended it, runs it modally.
    // Returns the end result once the dialog is gone and any running procedure
    // has returned.
    int run();

    // The first half of run(): initialise, then show without a modal loop.
    // False when initialisation ended the dialog (the library binding failed).
    bool start();
    // Returns once no procedure runs, keeping the window serviced meanwhile.
    void finish_procedure();

    bool busy() const;
    bool ended() const { return session_.ended(); }
    int end_result() const { return end_result_; }
    // The control with a template id (1000..1009), or nullptr.
    QWidget* control(int control_id) const;
    DialogControls& controls();
    const DialogUnits& units() const { return units_; }

    void done(int result) override;
    void accept() override;
    void reject() override;

    // The end of the user's session asks whether it may go ahead: refused
    // while a procedure runs. Tests call it directly.
    bool may_end_session();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Controls;

    void build();
    void on_button(int control_id);
    void end_as(DialogAction action);
    void show_status(const QString& text);

    DialogUnits units_{};
    QFont status_font_;
    std::map<int, QWidget*> controls_by_id_;
    std::unique_ptr<Controls> controls_;
    DialogSession session_;
    int end_result_ = kDialogResultCancel;
};

// The dialog font: "MS Sans Serif" 10 point, or the closest the system has.
QFont dialog_font();
DialogUnits dialog_units(const QFont& font);

// The status line's font: the dialog font's family at the largest size, in
// half points, at which every fixed status text fits `line_width` pixels on
// one line. The system's substitute for the dialog font is often wider than
// the font the template was laid out for, and the line's end is what matters.
QFont status_font(const QFont& dialog, int line_width);
// The smallest size the status line goes down to for a longer text (an image
// file's name in "File open error..."); below it the text is elided.
inline constexpr double kStatusMinimumPoints = 6.0;

}  // namespace fwup
