#include "bench/image_source.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "bench/synthetic_image.h"
#include "core/transfer/std_image_files.h"

namespace fwup::bench {
namespace {

// The folder of temporary images, removed with everything in it at exit.
class TempImages {
public:
    ~TempImages() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }

    std::string path_for(std::uint64_t size) {
        if (const auto it = paths_.find(size); it != paths_.end()) return it->second;
        if (folder_.empty()) {
            folder_ = std::filesystem::temp_directory_path() / ("fwup-bench-" + std::to_string(::getpid()));
            std::filesystem::create_directories(folder_);
        }
        const std::filesystem::path path = folder_ / ("image-" + std::to_string(size) + ".bin");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<char> chunk(1 << 20);
        for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7 + i / 256);
        for (std::uint64_t left = size; left > 0;) {
            const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(left, chunk.size()));
            out.write(chunk.data(), n);
            left -= static_cast<std::uint64_t>(n);
        }
        paths_[size] = path.string();
        return path.string();
    }

private:
    std::filesystem::path folder_;
    std::map<std::uint64_t, std::string> paths_;
};

}  // namespace

ImageSource image_source(Source source, std::uint64_t size) {
    if (source == kSynthetic) return {std::make_unique<SyntheticImageFiles>("fw.bin", size), "fw.bin"};
    static TempImages temp;
    return {std::make_unique<StdImageFiles>(), temp.path_for(size)};
}

const char* source_name(Source source) { return source == kSynthetic ? "synthetic" : "temp file"; }

namespace {

class TimedImage final : public ImageFile {
public:
    TimedImage(std::unique_ptr<ImageFile> inner, std::chrono::steady_clock::time_point& first, bool& read)
        : inner_(std::move(inner)), first_(first), read_(read) {}
    std::uint64_t size() override { return inner_->size(); }
    bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
        if (!read_) {
            read_ = true;
            first_ = std::chrono::steady_clock::now();
        }
        return inner_->read(buf, capacity, got);
    }

private:
    std::unique_ptr<ImageFile> inner_;
    std::chrono::steady_clock::time_point& first_;
    bool& read_;
};

}  // namespace

std::unique_ptr<ImageFile> FirstReadClock::open(const std::string& path) {
    std::unique_ptr<ImageFile> file = inner_.open(path);
    if (!file) return nullptr;
    return std::make_unique<TimedImage>(std::move(file), first_read_, read_);
}

double FirstReadClock::seconds_since_first_read() const {
    return seconds_from_first_read(std::chrono::steady_clock::now());
}

double FirstReadClock::seconds_from_first_read(std::chrono::steady_clock::time_point end) const {
    if (!read_) return 0.0;
    return std::chrono::duration<double>(end - first_read_).count();
}

}  // namespace fwup::bench
