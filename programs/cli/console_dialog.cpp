#include "programs/cli/console_dialog.h"

#include "core/dialog/dialog_template.h"

#include <algorithm>
#include <utility>

namespace fwup::cli {

namespace {

// A message box shows its text over several lines; the console gives it one.
std::string one_line(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        line += c == '\n' ? ' ' : c;
    }
    return line;
}

const char* icon_name(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error: return "error";
        case MessageIcon::Question: return "question";
        case MessageIcon::Information: break;
    }
    return "information";
}

}  // namespace

ConsoleDialog::ConsoleDialog(std::ostream& out, std::ostream* progress, Answerer answer, RunReport* report)
    : out_(out), progress_(progress), answer_(std::move(answer)), report_(report) {
    restart();
}

void ConsoleDialog::restart() {
    const std::lock_guard lock(mutex_);
    const DialogTemplate& dialog = upgrade_dialog_template();
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == kNoControlId) continue;
        texts_[control.id] = std::string(control.text);
        enabled_[control.id] = control.enabled;
    }
    // The window appears only once initialisation has filled the three value
    // texts, so their template text is never seen: nothing to print there.
    texts_[IDC_MODEL_NAME] = texts_[IDC_FW_FILE] = texts_[IDC_FILE_VERSION] = "";
    progress_visible_ = dialog.find(IDC_PROGRESS)->visible;
    ended_ = false;
}

void ConsoleDialog::note(const std::string& line) {
    const std::lock_guard lock(mutex_);
    print_line(line);
}

std::string ConsoleDialog::label(int control_id) {
    switch (control_id) {
        case IDC_MODEL_NAME: return "Model Name";
        case IDC_FW_FILE: return "F/W File";
        case IDC_FILE_VERSION: return "File Version";
        case IDC_FW_VERSION: return "F/W Version";
        case IDC_STATUS: return "Status";
        default: return "";
    }
}

void ConsoleDialog::set_title(const std::string& text) {
    const std::lock_guard lock(mutex_);
    title_ = text;
}

void ConsoleDialog::set_text(int control_id, const std::string& text) {
    const std::lock_guard lock(mutex_);
    if (control_id == IDC_STATUS && report_ != nullptr) report_->statuses.push_back(text);
    std::string& shown = texts_[control_id];
    if (shown == text) return;  // not a visible change
    shown = text;
    const std::string name = label(control_id);
    if (!name.empty()) print_line(name + ": " + text);
}

void ConsoleDialog::enable(int control_id, bool enabled) {
    const std::lock_guard lock(mutex_);
    enabled_[control_id] = enabled;
}

void ConsoleDialog::show(int control_id, bool visible) {
    const std::lock_guard lock(mutex_);
    if (control_id != IDC_PROGRESS) return;
    progress_visible_ = visible;
    if (visible) {
        draw_progress();
    } else {
        clear_progress();
    }
}

void ConsoleDialog::set_progress_range(std::uint32_t upper) {
    const std::lock_guard lock(mutex_);
    progress_upper_ = upper;
    draw_progress();
}

void ConsoleDialog::set_progress_pos(std::uint32_t pos) {
    const std::lock_guard lock(mutex_);
    progress_pos_ = pos;
    draw_progress();
}

bool ConsoleDialog::ask_yes_no(const std::string& text, const std::string& caption) {
    const std::lock_guard lock(mutex_);
    print_line("Message: " + one_line(text));
    clear_progress();
    const bool yes = answer_ && answer_(text);
    print_line(std::string("Answer: ") + (yes ? "Yes" : "No"));
    if (report_ != nullptr) report_->messages.push_back({text, caption, icon_name(MessageIcon::Question), yes ? "Yes" : "No"});
    return yes;
}

void ConsoleDialog::message_box(const std::string& text, const std::string& caption, MessageIcon icon) {
    const std::lock_guard lock(mutex_);
    print_line("Message: " + one_line(text));
    if (report_ != nullptr) report_->messages.push_back({text, caption, icon_name(icon), "OK"});
}

void ConsoleDialog::end_dialog(int /*result*/) {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    clear_progress();
}

std::string ConsoleDialog::status() const {
    const std::lock_guard lock(mutex_);
    return texts_.at(IDC_STATUS);
}

std::string ConsoleDialog::title() const {
    const std::lock_guard lock(mutex_);
    return title_;
}

bool ConsoleDialog::enabled(int control_id) const {
    const std::lock_guard lock(mutex_);
    const auto it = enabled_.find(control_id);
    return it != enabled_.end() && it->second;
}

bool ConsoleDialog::ended() const {
    const std::lock_guard lock(mutex_);
    return ended_;
}

void ConsoleDialog::print_line(const std::string& line) {
    const bool redraw = progress_drawn_;
    clear_progress();
    if (before_line_) before_line_(out_);
    out_ << line << '\n';
    out_.flush();
    if (redraw) draw_progress();
}

void ConsoleDialog::draw_progress() {
    if (progress_ == nullptr || !progress_visible_) return;
    const std::uint64_t upper = progress_upper_;
    const int percent = upper == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, std::uint64_t{progress_pos_} * 100 / upper));
    if (progress_drawn_ && percent == drawn_percent_) return;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    *progress_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
               << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << percent << "%";
    progress_->flush();
    progress_drawn_ = true;
    drawn_percent_ = percent;
}

void ConsoleDialog::clear_progress() {
    if (progress_ == nullptr || !progress_drawn_) return;
    *progress_ << "\r\033[K";
    progress_->flush();
    progress_drawn_ = false;
    drawn_percent_ = -1;
}

}  // namespace fwup::cli
