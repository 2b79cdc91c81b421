#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/dialog/dialog_controls.h"
#include "core/dialog/dialog_session.h"
#include "core/dialog/upgrade_dialog.h"
#include "core/worker/ui_call_queue.h"

namespace fwup {

// The main dialog's window: the resource template, driven by UpgradeDialog.
//
// The session decides what each click, key and the end of the user's session
// does (procedures on a worker thread, nothing while one runs); the window
// carries every control change a procedure makes to its own thread and does
// it there, message boxes included.
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
    INT_PTR reply(LRESULT result);  // a dialog procedure's answer to a message that has one
    HWND item(int control_id) const;
    void centre();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HBRUSH background_;
    HICON icon_ = nullptr;
    UiCallQueue ui_;
    DialogSession session_;
};

}  // namespace fwup
