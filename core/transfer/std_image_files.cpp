#include "core/transfer/std_image_files.h"

#include <utility>

#include "system/files/input_file.h"

namespace fwup {
namespace {

class SystemImageFile final : public ImageFile {
public:
    explicit SystemImageFile(std::unique_ptr<InputFile> file) : file_(std::move(file)) {}

    std::uint64_t size() override { return file_->size(); }

    bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
        return file_->read(buf, capacity, got);
    }

private:
    std::unique_ptr<InputFile> file_;
};

}  // namespace

std::unique_ptr<ImageFile> StdImageFiles::open(const std::string& path) {
    // Unshared: nobody can change the image between the size taken at the
    // start and the last block sent.
    std::unique_ptr<InputFile> file = InputFile::open(path, InputFile::Sharing::None);
    // Directories and devices are no images.
    if (!file || file->kind() != InputFile::Kind::Regular) return nullptr;
    return std::make_unique<SystemImageFile>(std::move(file));
}

}  // namespace fwup
