#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_runner.h"

#if defined(_WIN32)
#include <io.h>
#define FWUP_ISATTY _isatty
#else
#include <unistd.h>
#define FWUP_ISATTY isatty
#endif

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    fwup::cli::CliIo io{std::cout, std::cerr, std::cin, FWUP_ISATTY(0) != 0, FWUP_ISATTY(2) != 0};
    return fwup::cli::run_cli(args, io);
}
