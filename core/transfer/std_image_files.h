#pragma once
#include <memory>
#include <string>

#include "core/transfer/image_file.h"

namespace fwup {

// Image files through the system's own file calls (files/input_file.h):
// regular files only, read-only, sizes in 64 bits. (Others may write the file
// meanwhile; the download checks that it sent exactly the size it announced.)
class StdImageFiles final : public ImageFiles {
public:
    std::unique_ptr<ImageFile> open(const std::string& path) override;
};

}  // namespace fwup
