#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "core/transfer/image_file.h"

namespace fwup::bench {

// Image files made up on the fly: any size, no disk, no memory beyond one
// 8192-byte pattern. A read copies from the pattern, about what a read from
// the page cache costs, so the data phase and the plain copy pay the same.
class SyntheticImageFiles final : public ImageFiles {
public:
    SyntheticImageFiles(std::string name, std::uint64_t size) : name_(std::move(name)), size_(size) {}
    std::unique_ptr<ImageFile> open(const std::string& path) override;

private:
    std::string name_;
    std::uint64_t size_;
};

}  // namespace fwup::bench
