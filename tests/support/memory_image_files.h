#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/transfer/image_file.h"

namespace fwup::test {

struct MemoryImage {
    std::vector<std::uint8_t> bytes;
    // The size the file claims, when it should differ from its bytes (a huge
    // image whose data need not exist for the test).
    std::optional<std::uint64_t> claimed_size;
    // Reading at or past this offset fails.
    std::optional<std::uint64_t> read_error_at;
};

// Image files held in memory, by path.
class MemoryImageFiles final : public ImageFiles {
public:
    std::unique_ptr<ImageFile> open(const std::string& path) override;

    std::map<std::string, MemoryImage> files;
    std::vector<std::string> opened;  // paths opened
    int live_files = 0;               // open now
    std::set<const std::uint8_t*> read_buffers;  // every buffer a read filled
};

// Bytes that differ from block to block, so a lost or repeated block shows.
std::vector<std::uint8_t> pattern(std::size_t length);

}  // namespace fwup::test
