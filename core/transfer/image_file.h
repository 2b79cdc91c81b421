#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace fwup {

// One image file opened read-only. Destroying the object closes the file.
class ImageFile {
public:
    virtual ~ImageFile() = default;
    virtual std::uint64_t size() = 0;
    // Reads up to `capacity` bytes; `got` is 0 at end of file. False on a read error.
    virtual bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) = 0;
};

class ImageFiles {
public:
    virtual ~ImageFiles() = default;
    // nullptr when the file does not exist or cannot be opened.
    virtual std::unique_ptr<ImageFile> open(const std::string& path) = 0;
};

}  // namespace fwup
