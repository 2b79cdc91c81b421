#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/dialog/dialog_controls.h"
#include "app/dialog/upgrade_dialog.h"
#include "app/worker/procedure_runner.h"
#include "app/worker/ui_call_queue.h"

namespace fwup {

// The main dialog's window: the resource template, driven by UpgradeDialog.
//
// Verify and download run on a worker thread so the window keeps painting;
// every control change they make is carried to the window's thread and done
// there, message boxes included. While one runs no other command starts and
// the dialog cannot be closed (close box, Escape, Enter).
class DialogWindow final : public DialogControls {
public:
    // Construct on the thread that will run the dialog.
    DialogWindow(HINSTANCE instance, UpgradeDialog& logic);
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;
    ~DialogWindow() override;

    // Shows the dialog modally; returns its end result once it is gone and any
    // running procedure has returned.
    INT_PTR run();

    void set_title(const std::string& text) override;
    void set_text(int control_id, const std::string& text) override;
    void enable(int control_id, bool enabled) override;
    void show(int control_id, bool visible) override;
    void set_progress_range(std::uint32_t upper) override;
    void set_progress_pos(std::uint32_t pos) override;
    void begin_wait_cursor() override;
    void end_wait_cursor() override;
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    void message_box(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void end_dialog(int result) override;

private:
    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam);
    void on_init();
    void on_command(int id);
    bool busy() const;
    INT_PTR reply(LRESULT result);  // a dialog procedure's answer to a message that has one
    HWND item(int control_id) const;
    void centre();

    HINSTANCE instance_;
    UpgradeDialog& logic_;
    HWND window_ = nullptr;
    HBRUSH background_;
    HICON icon_ = nullptr;
    int wait_cursor_depth_ = 0;
    UiCallQueue ui_;
    ProcedureRunner runner_;
};

}  // namespace fwup
