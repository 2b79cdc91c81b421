#include "bench/heap_meter.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace fwup::bench {
namespace {

// Each block carries its size in front, kept at the alignment malloc gives.
constexpr std::size_t kHeader = alignof(std::max_align_t);

std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

void note_taken(std::size_t size) {
    const std::int64_t live = g_live.fetch_add(static_cast<std::int64_t>(size)) + static_cast<std::int64_t>(size);
    std::int64_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
}

void* take(std::size_t size) {
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (raw == nullptr) return nullptr;
    *reinterpret_cast<std::size_t*>(static_cast<void*>(raw)) = size;
    note_taken(size);
    return raw + kHeader;
}

void* take_or_throw(std::size_t size) {
    void* p = take(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void give(void* p, std::size_t header = kHeader) noexcept {
    if (p == nullptr) return;
    unsigned char* raw = static_cast<unsigned char*>(p) - header;
    const std::size_t size = *reinterpret_cast<std::size_t*>(static_cast<void*>(raw));
    g_live.fetch_sub(static_cast<std::int64_t>(size));
    std::free(raw);
}

// Over-aligned blocks carry their size one alignment unit in front, so the
// block itself keeps the alignment asked for.
void* take_aligned(std::size_t size, std::align_val_t alignment) {
    const auto align = std::max(static_cast<std::size_t>(alignment), kHeader);
    auto* raw = static_cast<unsigned char*>(std::aligned_alloc(align, (size + 2 * align - 1) / align * align));
    if (raw == nullptr) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(static_cast<void*>(raw)) = size;
    note_taken(size);
    return raw + align;
}

void give_aligned(void* p, std::align_val_t alignment) noexcept {
    give(p, std::max(static_cast<std::size_t>(alignment), kHeader));
}

}  // namespace

std::int64_t heap_live_bytes() { return g_live.load(); }
std::int64_t heap_peak_bytes() { return g_peak.load(); }
void reset_heap_peak() { g_peak.store(g_live.load()); }

}  // namespace fwup::bench

void* operator new(std::size_t size) { return fwup::bench::take_or_throw(size); }
void* operator new[](std::size_t size) { return fwup::bench::take_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return fwup::bench::take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return fwup::bench::take(size); }
void operator delete(void* p) noexcept { fwup::bench::give(p); }
void operator delete[](void* p) noexcept { fwup::bench::give(p); }
void operator delete(void* p, std::size_t) noexcept { fwup::bench::give(p); }
void operator delete[](void* p, std::size_t) noexcept { fwup::bench::give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { fwup::bench::give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { fwup::bench::give(p); }
void* operator new(std::size_t size, std::align_val_t alignment) { return fwup::bench::take_aligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return fwup::bench::take_aligned(size, alignment); }
void operator delete(void* p, std::align_val_t alignment) noexcept { fwup::bench::give_aligned(p, alignment); }
void operator delete[](void* p, std::align_val_t alignment) noexcept { fwup::bench::give_aligned(p, alignment); }
void operator delete(void* p, std::size_t, std::align_val_t alignment) noexcept {
    fwup::bench::give_aligned(p, alignment);
}
void operator delete[](void* p, std::size_t, std::align_val_t alignment) noexcept {
    fwup::bench::give_aligned(p, alignment);
}
