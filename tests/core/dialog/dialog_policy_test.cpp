#include "core/dialog/dialog_policy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/dialog/dialog_template.h"

namespace fwup {
namespace {

using A = DialogAction;
using E = DialogEvent;

TEST(DialogPolicy, DecidesEveryEventInEveryState) {
    struct Row {
        E event;
        int id;
        bool busy;
        bool ended;
        A action;
    };
    const std::vector<Row> rows = {
        // Idle: the procedures run on the worker, Exit here, the keys end the dialog.
        {E::Button, IDC_VERIFY, false, false, A::RunOnWorker},
        {E::Button, IDC_UPGRADE_NOW, false, false, A::RunOnWorker},
        {E::Button, IDC_EXIT, false, false, A::RunOnUiThread},
        {E::Button, 4711, false, false, A::RunOnUiThread},
        {E::EnterKey, 0, false, false, A::EndWithOk},
        {E::EscapeKey, 0, false, false, A::EndWithCancel},
        {E::CloseBox, 0, false, false, A::EndWithCancel},
        {E::EndOfSession, 0, false, false, A::AllowEndSession},
        // A procedure runs: nothing starts, nothing ends, not even the session.
        {E::Button, IDC_VERIFY, true, false, A::Ignore},
        {E::Button, IDC_UPGRADE_NOW, true, false, A::Ignore},
        {E::Button, IDC_EXIT, true, false, A::Ignore},
        {E::EnterKey, 0, true, false, A::Ignore},
        {E::EscapeKey, 0, true, false, A::Ignore},
        {E::CloseBox, 0, true, false, A::Ignore},
        {E::EndOfSession, 0, true, false, A::Ignore},
        // Ended (Exit after an upgrade, whose procedure is still returning, is busy too).
        {E::Button, IDC_VERIFY, false, true, A::Ignore},
        {E::Button, IDC_EXIT, false, true, A::Ignore},
        {E::EnterKey, 0, false, true, A::Ignore},
        {E::CloseBox, 0, false, true, A::Ignore},
        {E::EndOfSession, 0, false, true, A::AllowEndSession},
        {E::EndOfSession, 0, true, true, A::Ignore},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(decide(row.event, row.id, row.busy, row.ended), row.action)
            << "event " << static_cast<int>(row.event) << " id " << row.id << " busy " << row.busy << " ended "
            << row.ended;
    }
}

TEST(WaitCursorCount, TurnsOnFirstBeginAndBackOnLastEnd) {
    WaitCursorCount cursor;
    EXPECT_FALSE(cursor.end()) << "an end without a begin changes nothing";
    EXPECT_TRUE(cursor.begin());
    EXPECT_FALSE(cursor.begin());
    EXPECT_FALSE(cursor.end());
    EXPECT_TRUE(cursor.shown());
    EXPECT_TRUE(cursor.end());
    EXPECT_FALSE(cursor.shown());
    EXPECT_FALSE(cursor.end());
    EXPECT_TRUE(cursor.begin()) << "and it turns again on the next";
}

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The resource script the Windows dialog manager builds the window from, and
// the table the other front ends build it from, hold the same dialog.
TEST(DialogTemplate, IsTheDialogOfTheWindowsResourceScript) {
    const std::string script = read(FWUP_SOURCE_DIR "/programs/win32/fwupgrade.rc");
    const std::string ids = read(FWUP_SOURCE_DIR "/core/dialog/control_ids.h");
    ASSERT_FALSE(script.empty());
    std::map<std::string, int> id_of{{"-1", kNoControlId}};
    const std::regex define(R"(#define (\w+) (\d+))");
    for (auto it = std::sregex_iterator(ids.begin(), ids.end(), define); it != std::sregex_iterator(); ++it) {
        id_of[(*it)[1]] = std::stoi((*it)[2]);
    }

    const DialogTemplate& dialog = upgrade_dialog_template();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(script, m, std::regex(R"(IDD_UPGRADE_DIALOG DIALOG 0, 0, (\d+), (\d+))")));
    EXPECT_EQ(std::stoi(m[1]), dialog.width);
    EXPECT_EQ(std::stoi(m[2]), dialog.height);
    ASSERT_TRUE(std::regex_search(script, m, std::regex(R"re(CAPTION "([^"]*)")re")));
    EXPECT_EQ(m.str(1), dialog.caption);
    ASSERT_TRUE(std::regex_search(script, m, std::regex(R"re(FONT (\d+), "([^"]*)")re")));
    EXPECT_EQ(std::stoi(m[1]), dialog.font_points);
    EXPECT_EQ(m.str(2), dialog.font);

    // PUSHBUTTON "text", ID, x, y, w, h[, styles] (LTEXT, GROUPBOX alike), and
    // CONTROL "text", ID, "class", styles, x, y, w, h.
    const std::regex plain(R"re(^\s*(PUSHBUTTON|LTEXT|GROUPBOX)\s+"([^"]*)",\s*(\S+),\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)(.*)$)re");
    const std::regex control(
        R"re(^\s*CONTROL\s+"([^"]*)",\s*(\S+),\s*"([^"]*)",\s*([^,]*),\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)\s*$)re");
    std::size_t count = 0;
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        ControlTemplate t{};
        std::string text, id, styles;
        std::size_t first = 0;  // the group of x; y, width and height follow
        if (std::regex_match(line, m, plain)) {
            const std::string kind = m[1];
            t.kind = kind == "PUSHBUTTON" ? ControlKind::PushButton
                     : kind == "LTEXT"    ? ControlKind::Label
                                          : ControlKind::GroupBox;
            text = m[2];
            id = m[3];
            first = 4;
            styles = m[8];
        } else if (std::regex_match(line, m, control)) {
            ASSERT_EQ(m.str(3), "msctls_progress32") << line;
            t.kind = ControlKind::ProgressBar;
            text = m[1];
            id = m[2];
            styles = m[4];
            first = 5;
        } else {
            continue;
        }
        ASSERT_TRUE(id_of.count(id)) << line;
        t.id = id_of[id];
        t.x = std::stoi(m[first]);
        t.y = std::stoi(m[first + 1]);
        t.width = std::stoi(m[first + 2]);
        t.height = std::stoi(m[first + 3]);
        t.enabled = styles.find("WS_DISABLED") == std::string::npos;
        t.visible = styles.find("NOT WS_VISIBLE") == std::string::npos;
        t.bordered = std::regex_search(styles, std::regex(R"((^|[^T] )WS_BORDER)"));
        ASSERT_LT(count, dialog.controls.size()) << "the script has more controls: " << line;
        const ControlTemplate& want = dialog.controls[count++];
        EXPECT_EQ(text, want.text) << line;
        EXPECT_EQ(t.id, want.id) << line;
        EXPECT_EQ(t.kind, want.kind) << line;
        EXPECT_EQ(t.x, want.x) << line;
        EXPECT_EQ(t.y, want.y) << line;
        EXPECT_EQ(t.width, want.width) << line;
        EXPECT_EQ(t.height, want.height) << line;
        EXPECT_EQ(t.enabled, want.enabled) << line;
        EXPECT_EQ(t.visible, want.visible) << line;
        EXPECT_EQ(t.bordered, want.bordered) << line;
    }
    EXPECT_EQ(count, dialog.controls.size()) << "the same controls in the same (tab) order";
}

TEST(DialogTemplate, FindsEveryControlTheProgramAddresses) {
    const DialogTemplate& dialog = upgrade_dialog_template();
    for (int id : {IDC_UPGRADE_NOW, IDC_EXIT, IDC_VERIFY, IDC_MODEL_NAME, IDC_FW_FILE, IDC_FILE_VERSION,
                   IDC_FW_VERSION, IDC_STATUS, IDC_PROGRESS}) {
        ASSERT_NE(dialog.find(id), nullptr) << id;
        EXPECT_EQ(dialog.find(id)->id, id);
    }
    EXPECT_EQ(dialog.find(kNoControlId), nullptr);
    EXPECT_EQ(dialog.find(IDD_UPGRADE_DIALOG), nullptr);
}

}  // namespace
}  // namespace fwup
