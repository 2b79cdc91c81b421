#include "programs/cli/library_texts.h"

#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define FWUP_DUP _dup
#define FWUP_DUP2 _dup2
#define FWUP_READ _read
#define FWUP_WRITE _write
#define FWUP_CLOSE _close
#define FWUP_FDOPEN _fdopen
#define FWUP_FILENO _fileno
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#define FWUP_DUP dup
#define FWUP_DUP2 dup2
#define FWUP_READ read
#define FWUP_WRITE write
#define FWUP_CLOSE close
#define FWUP_FDOPEN fdopen
#define FWUP_FILENO fileno
#endif

namespace fwup::cli {

namespace {

constexpr int kStdout = 1;
// Sent after the texts to mark where they end: they are C strings, so no text
// holds a zero byte.
constexpr char kMarker = '\0';

bool make_pipe(int (&ends)[2]) {
#if defined(_WIN32)
    // Far more than the library prints between two of the CLI's lines (a line
    // or two per printer searched).
    constexpr unsigned kPipeSize = 65536;
    return _pipe(ends, kPipeSize, _O_BINARY) == 0;
#else
    if (pipe(ends) != 0) return false;
    // A library that printed more than the pipe holds loses the rest instead
    // of stopping the program in the middle of a transfer.
    const int flags = fcntl(ends[1], F_GETFL);
    if (flags >= 0) static_cast<void>(fcntl(ends[1], F_SETFL, flags | O_NONBLOCK));
    return true;
#endif
}

// Whether a write to the pipe failed only because the pipe is full.
bool pipe_full() {
#if defined(_WIN32)
    return false;  // the pipe blocks instead
#else
    return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

}  // namespace

std::unique_ptr<LibraryTexts> LibraryTexts::capture() {
    std::fflush(stdout);
    int ends[2] = {-1, -1};
    if (!make_pipe(ends)) return nullptr;
    const int kept = FWUP_DUP(kStdout);
    std::FILE* original = kept < 0 ? nullptr : FWUP_FDOPEN(kept, "w");
    if (original == nullptr || FWUP_DUP2(ends[1], kStdout) < 0) {
        if (original != nullptr) {
            std::fclose(original);
        } else if (kept >= 0) {
            FWUP_CLOSE(kept);
        }
        FWUP_CLOSE(ends[0]);
        FWUP_CLOSE(ends[1]);
        return nullptr;
    }
    FWUP_CLOSE(ends[1]);  // descriptor 1 is now the pipe's only writing end
    return std::unique_ptr<LibraryTexts>(new LibraryTexts(ends[0], original));
}

LibraryTexts::LibraryTexts(int pipe_read, std::FILE* original)
    : pipe_read_(pipe_read), original_file_(original), original_buf_(original), original_(&original_buf_) {}

LibraryTexts::~LibraryTexts() {
    pass_on(original_);
    original_.flush();
    // Standard output leads where it did before; the pipe closes with it.
    FWUP_DUP2(FWUP_FILENO(original_file_), kStdout);
    std::fclose(original_file_);
    FWUP_CLOSE(pipe_read_);
}

std::string LibraryTexts::take() {
    std::fflush(stdout);  // what the library printed through the C runtime
    std::string texts;
    char chunk[4096];
    // A full pipe holds only texts: they are read first, to make room.
    while (FWUP_WRITE(kStdout, &kMarker, 1) != 1) {
        if (!pipe_full()) return texts;
        const auto n = FWUP_READ(pipe_read_, chunk, sizeof chunk);
        if (n <= 0) return texts;
        texts.append(chunk, static_cast<std::size_t>(n));
    }
    for (;;) {
        const auto n = FWUP_READ(pipe_read_, chunk, sizeof chunk);
        if (n <= 0) return texts;
        const auto* end = static_cast<const char*>(std::memchr(chunk, kMarker, static_cast<std::size_t>(n)));
        if (end != nullptr) {
            texts.append(chunk, static_cast<std::size_t>(end - chunk));
            return texts;
        }
        texts.append(chunk, static_cast<std::size_t>(n));
    }
}

void LibraryTexts::pass_on(std::ostream& to) {
    const std::string texts = take();
    if (texts.empty()) return;
    to << texts;
    if (texts.back() != '\n') to << '\n';
    to.flush();
}

}  // namespace fwup::cli
