#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fwup::sim {

// SHA-256 (FIPS 180-4) over bytes fed in pieces of any size. Holds about a
// hundred bytes of state whatever the length of the message, so a printer can
// vouch for an image of any size without keeping it.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    // What compresses the blocks: portable code, or the processor's SHA
    // instructions (x86 SHA extensions), which are several times faster. Both
    // give the same digest; the processor's is used wherever it is present.
    enum class Engine { Portable, Processor };

    // Whether this processor, and this build, can run `engine`.
    static bool available(Engine engine);
    // The fastest engine available here.
    static Engine best_engine();

    Sha256();
    // With a chosen engine; one that is not available falls back to Portable.
    explicit Sha256(Engine engine);

    Engine engine() const { return engine_; }

    void update(const std::uint8_t* data, std::size_t length);

    // The digest of everything fed so far; feeding may go on afterwards.
    Digest digest() const;
    // The same, as 64 lowercase hexadecimal digits (as sha256sum prints it).
    std::string hex_digest() const;

private:
    using State = std::array<std::uint32_t, 8>;
    void compress(const std::uint8_t* blocks, std::size_t count);

    State state_;
    Engine engine_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pending_length_ = 0;
    std::uint64_t length_ = 0;  // bytes fed in all
};

// The digest of one whole message, in hexadecimal.
std::string sha256_hex(const std::uint8_t* data, std::size_t length);

}  // namespace fwup::sim
