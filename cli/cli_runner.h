#pragma once
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
};

// The whole of fwupgrade-cli after the program name: returns the exit status
// (0 done, 1 the printer was not upgraded / not ready, 2 usage or machine file).
int run_cli(const std::vector<std::string>& args, CliIo io);

}  // namespace fwup::cli
