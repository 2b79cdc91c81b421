#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/transfer/command_set.h"

namespace fwup {

// The block every piece of the image passes through on its way to the
// printer. It starts on a page boundary: the system copies each block twice
// (from the file into it, from it to the port), and a copy whose destination
// starts in the middle of a cache line runs about a tenth slower than one on
// a line boundary, which the heap's 16-byte alignment does not promise.
inline constexpr std::size_t kTransferBlockAlignment = 4096;

// The block is aligned by hand inside a larger plain new[] array: aligned new
// needs _aligned_malloc on Windows, which the C runtime of Windows 98 and 2000
// lacks. This is the size of that array.
inline constexpr std::size_t kTransferBlockAllocation = kTransferBlockSize + kTransferBlockAlignment - 1;

class TransferBlock {
public:
    TransferBlock() = default;

    // kTransferBlockSize bytes, zeroed. Throws std::bad_alloc like new[].
    static TransferBlock make() {
        TransferBlock block;
        block.storage_.reset(new std::uint8_t[kTransferBlockAllocation]());
        const auto start = reinterpret_cast<std::uintptr_t>(block.storage_.get());
        const std::size_t skip = (kTransferBlockAlignment - start % kTransferBlockAlignment) % kTransferBlockAlignment;
        block.data_ = block.storage_.get() + skip;
        return block;
    }

    std::uint8_t* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    void reset() {
        storage_.reset();
        data_ = nullptr;
    }

private:
    std::unique_ptr<std::uint8_t[]> storage_;
    std::uint8_t* data_ = nullptr;
};

inline TransferBlock make_transfer_block() { return TransferBlock::make(); }

}  // namespace fwup
