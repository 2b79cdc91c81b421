#pragma once
#include <cstdint>
#include <string>

#include "core/dialog/control_ids.h"

namespace fwup {

enum class MessageIcon { Error, Information, Question };

// Everything the procedures and the dialog logic may do to the window. The
// Win32 dialog, the command-line front end and the tests' recorder implement it.
class DialogControls {
public:
    virtual ~DialogControls() = default;
    virtual void set_title(const std::string& text) = 0;
    virtual void set_text(int control_id, const std::string& text) = 0;
    virtual void enable(int control_id, bool enabled) = 0;
    virtual void show(int control_id, bool visible) = 0;
    // Progress bar 1009: range 0..upper and its position. The procedures keep
    // both at or below 0x7FFFFFFF, so they fit a control's signed 32-bit bounds.
    virtual void set_progress_range(std::uint32_t upper) = 0;
    virtual void set_progress_pos(std::uint32_t pos) = 0;
    virtual void begin_wait_cursor() = 0;
    virtual void end_wait_cursor() = 0;
    // Yes/No question owned by the dialog, with the question icon. True for Yes.
    virtual bool ask_yes_no(const std::string& text, const std::string& caption) = 0;
    // Message box with no owner.
    virtual void message_box(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    virtual void end_dialog(int result) = 0;
};

}  // namespace fwup
