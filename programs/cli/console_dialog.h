#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>

#include "core/dialog/dialog_controls.h"
#include "system/threads/threads.h"
#include "programs/cli/run_report.h"

namespace fwup::cli {

// The dialog as a stream of lines: every visible change of a labelled text
// becomes "Label: text" on `out`, every message box "Message: text". The
// progress bar is drawn on `progress` (a terminal) when one is given.
class ConsoleDialog final : public DialogControls {
public:
    // Answers the upgrade confirmation; receives the question's text.
    using Answerer = std::function<bool(const std::string& question)>;

    // `report`, when given, also receives every status text and message box.
    ConsoleDialog(std::ostream& out, std::ostream* progress, Answerer answer, RunReport* report = nullptr);

    // The program runs again on the same terminal: every text and button as
    // the template has them, and not ended.
    void restart();
    // A line of the front end's own, e.g. "Check: ...".
    void note(const std::string& line);
    // Called before each line with the stream the line goes to, so that what
    // another writer left unfinished is ended first.
    void before_each_line(std::function<void(std::ostream&)> hook) { before_line_ = std::move(hook); }

    void set_title(const std::string& text) override;
    void set_text(int control_id, const std::string& text) override;
    void enable(int control_id, bool enabled) override;
    void show(int control_id, bool visible) override;
    void set_progress_range(std::uint32_t upper) override;
    void set_progress_pos(std::uint32_t pos) override;
    void begin_wait_cursor() override {}
    void end_wait_cursor() override {}
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    void message_box(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void end_dialog(int result) override;

    // What the dialog shows now.
    std::string status() const;
    std::string title() const;
    bool enabled(int control_id) const;
    bool ended() const;

    // The label the front end gives a control's text; empty for controls whose
    // text is not shown.
    static std::string label(int control_id);

private:
    void print_line(const std::string& line);  // callers hold mutex_
    void draw_progress();
    void clear_progress();

    mutable Mutex mutex_;
    std::ostream& out_;
    std::ostream* progress_;
    Answerer answer_;
    RunReport* report_;
    std::function<void(std::ostream&)> before_line_;
    std::string title_;
    std::map<int, std::string> texts_;
    std::map<int, bool> enabled_;
    bool progress_visible_ = false;
    bool progress_drawn_ = false;
    int drawn_percent_ = -1;
    std::uint32_t progress_upper_ = 0;
    std::uint32_t progress_pos_ = 0;
    bool ended_ = false;
};

}  // namespace fwup::cli
