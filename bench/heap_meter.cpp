#include "bench/heap_meter.h"

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

void* take(std::size_t size) {
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (raw == nullptr) return nullptr;
    *reinterpret_cast<std::size_t*>(static_cast<void*>(raw)) = size;
    const std::int64_t live = g_live.fetch_add(static_cast<std::int64_t>(size)) + static_cast<std::int64_t>(size);
    std::int64_t peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return raw + kHeader;
}

void* take_or_throw(std::size_t size) {
    void* p = take(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void give(void* p) noexcept {
    if (p == nullptr) return;
    unsigned char* raw = static_cast<unsigned char*>(p) - kHeader;
    const std::size_t size = *reinterpret_cast<std::size_t*>(static_cast<void*>(raw));
    g_live.fetch_sub(static_cast<std::int64_t>(size));
    std::free(raw);
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
