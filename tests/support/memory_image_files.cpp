#include "tests/support/memory_image_files.h"

#include <algorithm>
#include <cstring>

namespace fwup::test {
namespace {

class MemoryImageFile final : public ImageFile {
public:
    MemoryImageFile(const MemoryImage& image, MemoryImageFiles& files) : image_(image), files_(files) {
        ++files_.live_files;
    }
    ~MemoryImageFile() override { --files_.live_files; }
    MemoryImageFile(const MemoryImageFile&) = delete;
    MemoryImageFile& operator=(const MemoryImageFile&) = delete;

    std::uint64_t size() override { return image_.claimed_size.value_or(image_.bytes.size()); }

    bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
        got = 0;
        files_.read_buffers.insert(buf);
        if (image_.read_error_at && offset_ >= *image_.read_error_at) return false;
        std::uint64_t end = std::min<std::uint64_t>(image_.bytes.size(), offset_ + capacity);
        if (image_.read_error_at) end = std::min(end, *image_.read_error_at);
        got = static_cast<std::uint32_t>(end - offset_);
        if (got > 0) std::memcpy(buf, image_.bytes.data() + offset_, got);
        offset_ = end;
        return true;
    }

private:
    const MemoryImage& image_;
    MemoryImageFiles& files_;
    std::uint64_t offset_ = 0;
};

}  // namespace

std::unique_ptr<ImageFile> MemoryImageFiles::open(const std::string& path) {
    const auto it = files.find(path);
    if (it == files.end()) return nullptr;
    opened.push_back(path);
    return std::make_unique<MemoryImageFile>(it->second, *this);
}

std::vector<std::uint8_t> pattern(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

}  // namespace fwup::test
