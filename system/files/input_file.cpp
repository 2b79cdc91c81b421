#include "system/files/input_file.h"

#include <array>

namespace fwup {

bool read_whole_file(const std::string& path, std::string& bytes) {
    const std::unique_ptr<InputFile> file = InputFile::open(path);
    if (!file || file->kind() == InputFile::Kind::Directory) return false;
    bytes.clear();
    constexpr std::uint32_t kChunk = 4096;
    std::array<char, kChunk> chunk{};
    for (;;) {
        std::uint32_t got = 0;
        if (!file->read(chunk.data(), kChunk, got)) return false;
        if (got == 0) return true;
        bytes.append(chunk.data(), got);
    }
}

}  // namespace fwup
