#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/dialog/dialog_controls.h"

namespace fwup::test {

// A dialog that remembers what was done to it: the controls' current state
// (starting as the dialog template leaves them) and every change in order.
class RecordingDialog final : public DialogControls {
public:
    struct Box {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    RecordingDialog();

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

    std::string text(int control_id) const;
    std::string status() const { return text(IDC_STATUS); }
    bool enabled(int control_id) const;
    bool visible(int control_id) const;

    // Answer to the next questions.
    bool answer_yes = true;

    std::string title;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled_state;
    std::map<int, bool> visible_state;
    std::uint32_t progress_upper = 0;
    std::uint32_t progress_pos = 0;
    std::vector<std::uint32_t> progress_positions;
    int wait_cursor_depth = 0;
    int wait_cursor_shown = 0;
    std::vector<Box> questions;
    std::vector<Box> boxes;
    std::optional<int> end_result;
    // One line per call, e.g. "text 1008 Ready to upgrade...", "enable 1000 1".
    std::vector<std::string> events;
};

}  // namespace fwup::test
