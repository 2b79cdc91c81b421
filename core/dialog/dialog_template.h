#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "core/dialog/control_ids.h"

namespace fwup {

// The main dialog as its template lays it out, for the front ends that draw
// it themselves (the Qt dialog) or keep its state (the console dialog, the
// tests' recorder). The Windows resource script fwupgrade.rc holds the same
// dialog for the Windows dialog manager; a test compares the two.

enum class ControlKind { PushButton, Label, GroupBox, ProgressBar };

struct ControlTemplate {
    int id;  // kNoControlId for a control the program never addresses
    ControlKind kind;
    std::string_view text;
    int x, y, width, height;  // dialog units
    bool enabled;
    bool visible;
    bool bordered;
};

inline constexpr int kNoControlId = -1;

struct DialogTemplate {
    std::string_view caption;  // replaced while the dialog initialises
    std::string_view font;
    int font_points;
    int width, height;  // dialog units
    std::span<const ControlTemplate> controls;  // in tab order

    // The control with this id; nullptr when there is none.
    const ControlTemplate* find(int control_id) const;
};

// The one main dialog.
const DialogTemplate& upgrade_dialog_template();

// The dialogs' colours: light grey with black text.
struct DialogColours {
    std::uint8_t red, green, blue;
};
inline constexpr DialogColours kDialogBackground{192, 192, 192};
inline constexpr DialogColours kDialogText{0, 0, 0};

}  // namespace fwup
