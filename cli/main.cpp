#include <string>
#include <vector>

#include "cli/cli_runner.h"

#if defined(_WIN32)
#include <io.h>

#include "cli/stdio_streams.h"
#define FWUP_ISATTY _isatty
#else
#include <iostream>
#include <unistd.h>
#define FWUP_ISATTY isatty
#endif

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
#if defined(_WIN32)
    fwup::cli::StdioStreamBuf out_buf(stdout), err_buf(stderr), in_buf(stdin);
    std::ostream out(&out_buf), err(&err_buf);
    std::istream in(&in_buf);
#else
    std::ostream& out = std::cout;
    std::ostream& err = std::cerr;
    std::istream& in = std::cin;
#endif
    fwup::cli::CliIo io{out, err, in, FWUP_ISATTY(0) != 0, FWUP_ISATTY(2) != 0};
    return fwup::cli::run_cli(args, io);
}
