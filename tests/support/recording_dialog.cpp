#include "tests/support/recording_dialog.h"

#include "core/dialog/dialog_template.h"

namespace fwup::test {

RecordingDialog::RecordingDialog() {
    for (const ControlTemplate& control : upgrade_dialog_template().controls) {
        if (control.id == kNoControlId) continue;
        texts[control.id] = std::string(control.text);
        enabled_state[control.id] = control.enabled;
        visible_state[control.id] = control.visible;
    }
}

void RecordingDialog::set_title(const std::string& text) {
    title = text;
    events.push_back("title " + text);
}

void RecordingDialog::set_text(int control_id, const std::string& text) {
    texts[control_id] = text;
    events.push_back("text " + std::to_string(control_id) + " " + text);
}

void RecordingDialog::enable(int control_id, bool enabled) {
    enabled_state[control_id] = enabled;
    events.push_back("enable " + std::to_string(control_id) + (enabled ? " 1" : " 0"));
}

void RecordingDialog::show(int control_id, bool visible) {
    visible_state[control_id] = visible;
    events.push_back("show " + std::to_string(control_id) + (visible ? " 1" : " 0"));
}

void RecordingDialog::set_progress_range(std::uint32_t upper) {
    progress_upper = upper;
    events.push_back("range " + std::to_string(upper));
}

void RecordingDialog::set_progress_pos(std::uint32_t pos) {
    progress_pos = pos;
    progress_positions.push_back(pos);
    events.push_back("pos " + std::to_string(pos));
}

void RecordingDialog::begin_wait_cursor() {
    ++wait_cursor_depth;
    ++wait_cursor_shown;
    events.push_back("wait 1");
}

void RecordingDialog::end_wait_cursor() {
    --wait_cursor_depth;
    events.push_back("wait 0");
}

bool RecordingDialog::ask_yes_no(const std::string& text, const std::string& caption) {
    questions.push_back({text, caption, MessageIcon::Question});
    events.push_back("ask " + caption);
    return answer_yes;
}

void RecordingDialog::message_box(const std::string& text, const std::string& caption, MessageIcon icon) {
    boxes.push_back({text, caption, icon});
    events.push_back("box " + caption + ": " + text);
}

void RecordingDialog::end_dialog(int result) {
    end_result = result;
    events.push_back("end " + std::to_string(result));
}

std::string RecordingDialog::text(int control_id) const {
    const auto it = texts.find(control_id);
    return it == texts.end() ? std::string() : it->second;
}

bool RecordingDialog::enabled(int control_id) const {
    const auto it = enabled_state.find(control_id);
    return it != enabled_state.end() && it->second;
}

bool RecordingDialog::visible(int control_id) const {
    const auto it = visible_state.find(control_id);
    return it != visible_state.end() && it->second;
}

}  // namespace fwup::test
