#pragma once
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace fwup::cli {

// The process's streams and what they are attached to.
struct CliIo {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    bool in_is_terminal = false;   // the confirmation may be asked
    bool err_is_terminal = false;  // the progress bar may be drawn
    // With --json, called once before anything runs: from then on whatever
    // else would reach standard output (the USB port library's own
    // diagnostics) goes to standard error, and the returned stream still
    // reaches standard output, for the document alone. Empty, or nullptr
    // returned: the document goes to `out`.
    std::function<std::ostream*()> reserve_out;
};

// The whole of fwupgrade-cli after the program name: returns the exit status
// (0 done, 1 the printer was not upgraded / not ready, 2 usage or machine file,
// 3 and 4 the check after an upgrade found another version / no answer).
int run_cli(const std::vector<std::string>& args, CliIo io);

}  // namespace fwup::cli
