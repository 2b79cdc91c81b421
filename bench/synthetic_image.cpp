#include "bench/synthetic_image.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fwup::bench {
namespace {

constexpr std::size_t kPatternSize = 8192;

const std::array<std::uint8_t, kPatternSize>& pattern() {
    static const auto bytes = [] {
        std::array<std::uint8_t, kPatternSize> p{};
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        return p;
    }();
    return bytes;
}

class SyntheticImage final : public ImageFile {
public:
    explicit SyntheticImage(std::uint64_t size) : size_(size) {}
    std::uint64_t size() override { return size_; }
    bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
        got = static_cast<std::uint32_t>(std::min<std::uint64_t>(capacity, size_ - offset_));
        std::uint32_t done = 0;
        while (done < got) {
            const std::size_t at = static_cast<std::size_t>((offset_ + done) % kPatternSize);
            const std::size_t n = std::min<std::size_t>(kPatternSize - at, got - done);
            std::memcpy(buf + done, pattern().data() + at, n);
            done += static_cast<std::uint32_t>(n);
        }
        offset_ += got;
        return true;
    }

private:
    std::uint64_t size_;
    std::uint64_t offset_ = 0;
};

}  // namespace

std::unique_ptr<ImageFile> SyntheticImageFiles::open(const std::string& path) {
    if (path != name_) return nullptr;
    return std::make_unique<SyntheticImage>(size_);
}

}  // namespace fwup::bench
