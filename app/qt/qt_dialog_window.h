#pragma once
#include <QDialog>

#include <map>
#include <memory>
#include <string>

#include "app/dialog/dialog_controls.h"
#include "app/dialog/upgrade_app.h"
#include "app/dialog/upgrade_dialog.h"
#include "app/worker/procedure_runner.h"

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

// The main dialog on a Linux desktop, with Qt Widgets: the Windows template's
// controls, texts, initial states and layout, driven by UpgradeDialog.
//
// Verify and download run on a worker thread, so the window keeps painting
// and the progress bar moving; every control change they make is carried to
// the window's thread and done there (message boxes included), and the worker
// waits for it. While a procedure runs no command starts and the dialog cannot
// be closed (close box, Escape, Enter).
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
    bool ended() const { return ended_; }
    int end_result() const { return end_result_; }
    // The control with a template id (1000..1009), or nullptr.
    QWidget* control(int control_id) const;
    DialogControls& controls();
    const DialogUnits& units() const { return units_; }

    void done(int result) override;
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Controls;

    void build();
    void on_button(int control_id);
    void show_status(const QString& text);

    UpgradeDialog& logic_;
    DialogUnits units_{};
    QFont status_font_;
    std::map<int, QWidget*> controls_by_id_;
    std::unique_ptr<Controls> controls_;
    ProcedureRunner runner_;
    bool ended_ = false;
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
