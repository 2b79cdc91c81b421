#include "transfer/std_image_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fwup {
namespace {

class StdImageFile final : public ImageFile {
public:
    StdImageFile(std::ifstream stream, std::uint64_t size) : stream_(std::move(stream)), size_(size) {}

    std::uint64_t size() override { return size_; }

    bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
        got = 0;
        if (stream_.bad()) return false;
        stream_.read(reinterpret_cast<char*>(buf), static_cast<std::streamsize>(capacity));
        got = static_cast<std::uint32_t>(stream_.gcount());
        // Reaching the end sets eof and fail; only a lost stream is a read error.
        return !stream_.bad();
    }

private:
    std::ifstream stream_;
    std::uint64_t size_;
};

}  // namespace

std::unique_ptr<ImageFile> StdImageFiles::open(const std::string& path) {
    std::error_code error;
    // Directories and devices are no images (Windows refuses to open a directory as a file).
    if (!std::filesystem::is_regular_file(path, error)) return nullptr;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return nullptr;
    stream.seekg(0, std::ios::end);
    const std::streamoff end = stream.tellg();
    stream.seekg(0, std::ios::beg);
    if (!stream || end < 0) return nullptr;
    return std::make_unique<StdImageFile>(std::move(stream), static_cast<std::uint64_t>(end));
}

}  // namespace fwup
