#include "sim/digest/sha256.h"

#include <algorithm>

// The processor's SHA instructions: x86 and x86-64, compilers that can enable
// them for one function (the rest of the program stays plain x86).
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define FWUP_SHA256_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define FWUP_SHA256_X86 0
#endif

namespace fwup::sim {

namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr std::array<std::uint32_t, 64> kRound{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The first 32 bits of the fractional parts of the square roots of the first 8 primes.
constexpr std::array<std::uint32_t, 8> kInitial{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return x >> n | x << (32 - n); }

std::uint32_t load_be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void compress_portable(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w;
    for (std::size_t i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#if FWUP_SHA256_X86

// 32-bit Windows starts threads and callbacks with the stack aligned to 4
// bytes only; the 16-byte registers this function may spill need 16.
#if defined(__i386__)
#define FWUP_SHA256_TARGET __attribute__((target("sha,sse4.1"), force_align_arg_pointer))
#else
#define FWUP_SHA256_TARGET __attribute__((target("sha,sse4.1")))
#endif

// The same compression with the SHA extensions: two rounds an instruction.
// They keep the eight working words in two registers, as (A,B,E,F) and
// (C,D,G,H) from the highest lane down, and the message schedule four words
// to a register.
FWUP_SHA256_TARGET void compress_processor(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    // Loads the message's big-endian words: each group of four bytes reversed.
    const __m128i big_endian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xF0);

    for (; count > 0; --count, blocks += 64) {
        const __m128i abef_before = abef;
        const __m128i cdgh_before = cdgh;
        // w[g % 4] holds schedule words 4g..4g+3: the last sixteen are enough.
        __m128i w[4];
        for (std::size_t i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), big_endian);
        }
#pragma GCC unroll 16
        for (std::size_t g = 0; g < 16; ++g) {
            if (g >= 4) {
                // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four at a time.
                const __m128i& before1 = w[(g + 3) % 4];
                const __m128i& before2 = w[(g + 2) % 4];
                const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w[g % 4], w[(g + 1) % 4]),
                                                      _mm_alignr_epi8(before1, before2, 4));
                w[g % 4] = _mm_sha256msg2_epu32(partial, before1);
            }
            const __m128i words = _mm_add_epi32(w[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * g])));
            // Two rounds with the low two words, two with the high two; the
            // state before them serves as the new (C,D,G,H).
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words, 0x0E));
        }
        abef = _mm_add_epi32(abef, abef_before);
        cdgh = _mm_add_epi32(cdgh, cdgh_before);
    }

    const __m128i abef_up = _mm_shuffle_epi32(abef, 0x1B);  // A, B, E, F from the lowest lane up
    const __m128i ghcd_up = _mm_shuffle_epi32(cdgh, 0xB1);  // G, H, C, D
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(abef_up, ghcd_up, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(ghcd_up, abef_up, 8));
}

// Every system the programs run on (Windows 98 SE and later, Linux) saves the
// SSE registers across task switches, so the processor's word is enough.
bool processor_has_sha() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool sha = (ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}

#endif

}  // namespace

bool Sha256::available(Engine engine) {
#if FWUP_SHA256_X86
    static const bool processor = processor_has_sha();
    return engine == Engine::Portable || processor;
#else
    return engine == Engine::Portable;
#endif
}

Sha256::Engine Sha256::best_engine() { return available(Engine::Processor) ? Engine::Processor : Engine::Portable; }

Sha256::Sha256() : Sha256(best_engine()) {}

Sha256::Sha256(Engine engine) : state_(kInitial), engine_(available(engine) ? engine : Engine::Portable) {}

void Sha256::compress(const std::uint8_t* blocks, std::size_t count) {
#if FWUP_SHA256_X86
    if (engine_ == Engine::Processor) {
        compress_processor(state_.data(), blocks, count);
        return;
    }
#endif
    for (; count > 0; --count, blocks += 64) compress_portable(state_, blocks);
}

void Sha256::update(const std::uint8_t* data, std::size_t length) {
    length_ += length;
    if (pending_length_ > 0) {
        const std::size_t n = std::min(length, pending_.size() - pending_length_);
        std::copy_n(data, n, pending_.begin() + static_cast<std::ptrdiff_t>(pending_length_));
        pending_length_ += n;
        data += n;
        length -= n;
        if (pending_length_ < pending_.size()) return;
        compress(pending_.data(), 1);
        pending_length_ = 0;
    }
    // Whole blocks straight from the caller's bytes, all in one call.
    const std::size_t blocks = length / pending_.size();
    if (blocks > 0) {
        compress(data, blocks);
        data += blocks * pending_.size();
        length -= blocks * pending_.size();
    }
    std::copy_n(data, length, pending_.begin());
    pending_length_ = length;
}

Sha256::Digest Sha256::digest() const {
    // Padding: a one bit, zeros up to 56 bytes into a block, the message's
    // length in bits as a big-endian 64-bit number.
    Sha256 copy = *this;
    const std::uint64_t bits = length_ * 8;
    std::array<std::uint8_t, 72> padding{};
    padding[0] = 0x80;
    const std::size_t zeros = (pending_length_ < 56 ? 56 : 120) - pending_length_;
    for (std::size_t i = 0; i < 8; ++i) padding[zeros + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    copy.update(padding.data(), zeros + 8);

    Digest out;
    for (std::size_t i = 0; i < copy.state_.size(); ++i) {
        for (std::size_t j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(copy.state_[i] >> (24 - 8 * j));
    }
    return out;
}

std::string Sha256::hex_digest() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const std::uint8_t byte : digest()) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::string sha256_hex(const std::uint8_t* data, std::size_t length) {
    Sha256 hash;
    hash.update(data, length);
    return hash.hex_digest();
}

}  // namespace fwup::sim
