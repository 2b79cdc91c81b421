#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/transfer/image_file.h"

namespace fwup::bench {

// Where a benchmark's image comes from.
enum Source : std::int64_t {
    kSynthetic = 0,  // made up on the fly (bench/synthetic_image.h): no disk, no page cache
    kTempFile = 1,   // a file of that size in a temporary folder, read through the standard library
};

struct ImageSource {
    std::unique_ptr<ImageFiles> files;
    std::string name;  // the path to open
};

// Temporary files are written once per size and removed when the program ends.
ImageSource image_source(Source source, std::uint64_t size);

const char* source_name(Source source);

// Image files that note when the first block is read: the data phase starts
// there, whatever came before it (command exchange, waits, setting up).
class FirstReadClock final : public ImageFiles {
public:
    explicit FirstReadClock(ImageFiles& inner) : inner_(inner) {}
    std::unique_ptr<ImageFile> open(const std::string& path) override;

    // Seconds from the first read until now, or until `end`; 0 when nothing was read.
    double seconds_since_first_read() const;
    double seconds_from_first_read(std::chrono::steady_clock::time_point end) const;

private:
    ImageFiles& inner_;
    std::chrono::steady_clock::time_point first_read_{};
    bool read_ = false;
};

}  // namespace fwup::bench
