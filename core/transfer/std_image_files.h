#pragma once
#include <memory>
#include <string>

#include "core/transfer/image_file.h"

namespace fwup {

// Image files through the system's own file calls (files/input_file.h):
// regular files only, read-only, sizes in 64 bits, opened without sharing, so
// that on Windows no other program can open the image, to rewrite it or
// otherwise, while it is being sent. (POSIX systems cannot refuse others; the
// download still checks that it sent exactly the size it announced.)
class StdImageFiles final : public ImageFiles {
public:
    std::unique_ptr<ImageFile> open(const std::string& path) override;
};

}  // namespace fwup
