#pragma once
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "programs/cli/stdio_streams.h"

namespace fwup::cli {

// The USB port library prints its diagnostics on the process's standard
// output in their own exact form, and one of them ("Failed to open (...) = N")
// has no line end, so that the next line printed there would run into it.
// While an object of this class lives, descriptor 1 is a pipe: what the
// process prints on standard output waits there until pass_on() hands it to a
// stream of the CLI's, followed by a line break when it has none. The CLI's
// own lines go to original(), where standard output led before.
//
// Made for a program that prints from one thread: pass_on() takes everything
// printed before it was called.
class LibraryTexts {
public:
    // nullptr when standard output cannot be taken over; the texts then reach
    // it directly, as before.
    static std::unique_ptr<LibraryTexts> capture();
    LibraryTexts(const LibraryTexts&) = delete;
    LibraryTexts& operator=(const LibraryTexts&) = delete;
    // Passes on what is left to original(), then gives standard output back.
    ~LibraryTexts();

    std::ostream& original() { return original_; }
    // What was printed on standard output since the last call, if anything,
    // ended with a line break.
    void pass_on(std::ostream& to);

private:
    LibraryTexts(int pipe_read, std::FILE* original);
    std::string take();

    int pipe_read_;
    std::FILE* original_file_;  // over descriptor 1 as it was
    StdioStreamBuf original_buf_;
    std::ostream original_;
};

}  // namespace fwup::cli
