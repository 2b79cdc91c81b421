#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "transfer/command_set.h"

namespace fwup {

// The block every piece of the image passes through on its way to the
// printer. It starts on a page boundary: the system copies each block twice
// (from the file into it, from it to the port), and a copy whose destination
// starts in the middle of a cache line runs about a tenth slower than one on
// a line boundary, which the heap's 16-byte alignment does not promise.
inline constexpr std::size_t kTransferBlockAlignment = 4096;

struct TransferBlockRelease {
    void operator()(std::uint8_t* block) const noexcept {
        ::operator delete[](block, std::align_val_t{kTransferBlockAlignment});
    }
};

using TransferBlock = std::unique_ptr<std::uint8_t[], TransferBlockRelease>;

// kTransferBlockSize bytes, zeroed. Throws std::bad_alloc like new[].
inline TransferBlock make_transfer_block() {
    return TransferBlock(new (std::align_val_t{kTransferBlockAlignment}) std::uint8_t[kTransferBlockSize]());
}

}  // namespace fwup
