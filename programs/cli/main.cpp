#include <cstdio>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "programs/cli/cli_runner.h"

#if defined(_WIN32)
#include <io.h>

#include "programs/cli/stdio_streams.h"
#define FWUP_ISATTY _isatty
#define FWUP_DUP _dup
#define FWUP_DUP2 _dup2
#define FWUP_WRITE _write
#define FWUP_CLOSE _close
using WriteCount = unsigned int;
#else
#include <iostream>
#include <unistd.h>
#define FWUP_ISATTY isatty
#define FWUP_DUP dup
#define FWUP_DUP2 dup2
#define FWUP_WRITE write
#define FWUP_CLOSE close
using WriteCount = std::size_t;
#endif

namespace {

// Writes straight to a file descriptor, which it owns.
class DescriptorBuffer final : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd) {}
    ~DescriptorBuffer() override { FWUP_CLOSE(fd_); }
    DescriptorBuffer(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        std::streamsize done = 0;
        while (done < count) {
            const auto n = FWUP_WRITE(fd_, data + done, static_cast<WriteCount>(count - done));
            if (n <= 0) break;
            done += n;
        }
        return done;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    int fd_;
};

struct ReservedOut {
    std::unique_ptr<DescriptorBuffer> buffer;
    std::unique_ptr<std::ostream> stream;
};

// Keeps standard output for the JSON document alone: the original descriptor
// is kept aside and descriptor 1 becomes standard error, so whatever else the
// process writes there (the USB port library's diagnostics included) reaches
// standard error.
std::ostream* reserve_stdout(ReservedOut& reserved, std::ostream& out) {
    out.flush();
    std::fflush(stdout);
    const int kept = FWUP_DUP(1);
    if (kept < 0) return nullptr;
    if (FWUP_DUP2(2, 1) < 0) {
        FWUP_CLOSE(kept);
        return nullptr;
    }
    reserved.buffer = std::make_unique<DescriptorBuffer>(kept);
    reserved.stream = std::make_unique<std::ostream>(reserved.buffer.get());
    return reserved.stream.get();
}

}  // namespace

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
    ReservedOut reserved;
    fwup::cli::CliIo io{out, err, in, FWUP_ISATTY(0) != 0, FWUP_ISATTY(2) != 0,
                        [&] { return reserve_stdout(reserved, out); }};
    return fwup::cli::run_cli(args, io);
}
