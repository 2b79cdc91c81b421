#include "programs/win32/dialog_window.h"

#include <commctrl.h>

#include "core/dialog/dialog_template.h"

namespace fwup {

namespace {

// Private messages: run the calls a worker has queued; a worker has finished.
constexpr UINT kRunQueuedCalls = WM_APP + 1;
constexpr UINT kProcedureFinished = WM_APP + 2;

COLORREF colour(const DialogColours& c) { return RGB(c.red, c.green, c.blue); }

UINT icon_style(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return MB_ICONERROR;
        case MessageIcon::Information:
            return MB_ICONINFORMATION;
        case MessageIcon::Question:
            return MB_ICONQUESTION;
    }
    return 0;
}

}  // namespace

DialogWindow::DialogWindow(HINSTANCE instance, UpgradeDialog& logic)
    : instance_(instance),
      background_(CreateSolidBrush(colour(kDialogBackground))),
      ui_([this] { return PostMessageA(window_, kRunQueuedCalls, 0, 0) != FALSE; }),
      session_(logic, *this, [this] { PostMessageA(window_, kProcedureFinished, 0, 0); }) {}

DialogWindow::~DialogWindow() {
    ui_.close();
    session_.wait();
    if (background_ != nullptr) DeleteObject(background_);
}

INT_PTR DialogWindow::run() {
    const INT_PTR result = DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_UPGRADE_DIALOG), nullptr,
                                           &DialogWindow::dialog_proc, reinterpret_cast<LPARAM>(this));
    // The window is gone. A procedure that ended the dialog itself (Exit after
    // an upgrade) may still be returning: release it from any pending call to
    // the window and wait for it.
    ui_.close();
    session_.wait();
    return result;
}

INT_PTR CALLBACK DialogWindow::dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DialogWindow*>(lparam);
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        self->window_ = window;
        self->on_init();
        return TRUE;  // the system sets the default focus
    }
    auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    return self->handle(message, wparam, lparam);
}

INT_PTR DialogWindow::reply(LRESULT result) {
    SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR DialogWindow::handle(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) == BN_CLICKED) {
                on_command(LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        case kRunQueuedCalls:
            ui_.run_pending();
            return TRUE;
        case kProcedureFinished:
            session_.procedure_finished();
            return TRUE;
        case WM_SETCURSOR:
            if (session_.wait_cursor().shown()) {
                SetCursor(LoadCursorA(nullptr, IDC_WAIT));
                return reply(TRUE);
            }
            return FALSE;
        case WM_QUERYENDSESSION:
            return session_.handle(DialogEvent::EndOfSession) == DialogAction::Ignore ? reply(FALSE) : FALSE;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wparam);
            SetTextColor(dc, colour(kDialogText));
            SetBkColor(dc, colour(kDialogBackground));
            return reinterpret_cast<INT_PTR>(background_);
        }
        default:
            return FALSE;
    }
}

void DialogWindow::on_init() {
    icon_ = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_APP_ICON));
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    centre();
    // A failed binding has reported itself and ended the dialog already.
    static_cast<void>(session_.logic().initialise(*this));
}

void DialogWindow::on_command(int id) {
    // The dialog manager sends IDCANCEL for both the Escape key and the close box.
    const DialogEvent event = id == IDOK       ? DialogEvent::EnterKey
                              : id == IDCANCEL ? DialogEvent::EscapeKey
                                               : DialogEvent::Button;
    switch (session_.handle(event, id)) {
        case DialogAction::EndWithOk:
            EndDialog(window_, kDialogResultOk);
            return;
        case DialogAction::EndWithCancel:
            EndDialog(window_, kDialogResultCancel);
            return;
        default:
            return;
    }
}

void DialogWindow::centre() {
    RECT dialog{};
    GetWindowRect(window_, &dialog);
    RECT area{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(window_, nullptr, x < area.left ? area.left : x, y < area.top ? area.top : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND DialogWindow::item(int control_id) const { return GetDlgItem(window_, control_id); }

// Every control operation runs on the window's thread: directly when called
// there, otherwise queued and waited for.

void DialogWindow::set_title(const std::string& text) {
    ui_.invoke([&] { SetWindowTextA(window_, text.c_str()); });
}

void DialogWindow::set_text(int control_id, const std::string& text) {
    ui_.invoke([&] { SetDlgItemTextA(window_, control_id, text.c_str()); });
}

void DialogWindow::enable(int control_id, bool enabled) {
    ui_.invoke([&] { EnableWindow(item(control_id), enabled ? TRUE : FALSE); });
}

void DialogWindow::show(int control_id, bool visible) {
    ui_.invoke([&] { ShowWindow(item(control_id), visible ? SW_SHOW : SW_HIDE); });
}

void DialogWindow::set_progress_range(std::uint32_t upper) {
    ui_.invoke([&] { SendMessageA(item(IDC_PROGRESS), PBM_SETRANGE32, 0, static_cast<LPARAM>(upper)); });
}

void DialogWindow::set_progress_pos(std::uint32_t pos) {
    ui_.invoke([&] { SendMessageA(item(IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(pos), 0); });
}

void DialogWindow::begin_wait_cursor() {
    ui_.invoke([&] {
        if (session_.wait_cursor().begin()) SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    });
}

void DialogWindow::end_wait_cursor() {
    ui_.invoke([&] {
        if (session_.wait_cursor().end()) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    });
}

bool DialogWindow::ask_yes_no(const std::string& text, const std::string& caption) {
    bool yes = false;
    ui_.invoke([&] { yes = MessageBoxA(window_, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES; });
    return yes;
}

void DialogWindow::message_box(const std::string& text, const std::string& caption, MessageIcon icon) {
    ui_.invoke([&] { MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | icon_style(icon)); });
}

void DialogWindow::end_dialog(int result) {
    ui_.invoke([&] {
        session_.mark_ended();
        EndDialog(window_, result);
    });
}

}  // namespace fwup
