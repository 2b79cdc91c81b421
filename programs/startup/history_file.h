#pragma once
#include <string>

namespace fwup::startup {

// The history file: $XDG_STATE_HOME/fwupgrade/history.jsonl, or
// ~/.local/state/fwupgrade/history.jsonl when XDG_STATE_HOME is unset or not
// an absolute path. Empty where neither variable gives a folder, and on
// Windows, where the programs write no files.
std::string history_path();

// Appends `line` (one record with its newline) to the history at `path`,
// creating its folders: one write() on a descriptor opened with O_APPEND, so
// lines of programs writing at once never interleave. Empty when written;
// otherwise a warning naming the file and why.
std::string append_history_line(const std::string& path, const std::string& line);

// The whole text of the history at `path`: a missing file is an empty
// history. False with `problem` set when the file cannot be read.
bool read_history_file(const std::string& path, std::string& text, std::string& problem);

// The time now in UTC, "2026-12-09T04:15:34Z".
std::string utc_now();

}  // namespace fwup::startup
