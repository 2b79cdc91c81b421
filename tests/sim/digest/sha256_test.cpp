#include "sim/digest/sha256.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fwup::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string hex(const Bytes& message) { return sha256_hex(message.data(), message.size()); }

// A message of `size` bytes that repeats no short pattern.
Bytes patterned(std::size_t size) {
    Bytes message(size);
    for (std::size_t i = 0; i < size; ++i) message[i] = static_cast<std::uint8_t>(i * 167 + i / 256);
    return message;
}

TEST(Sha256Test, PublishedTestVectors) {
    struct Row {
        std::string message;
        std::string digest;
    };
    const std::vector<Row> rows{
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message.substr(0, 20));
        EXPECT_EQ(hex(bytes_of(row.message)), row.digest);
    }
}

// The padding differs on either side of 55/56 bytes into a block, and a
// message may end on a block boundary: lengths around those points, checked
// against the system's sha256sum.
TEST(Sha256Test, AgreesWithSha256sumAroundEveryPaddingBoundary) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("fwup-sha256-" + std::to_string(getpid()) + ".bin");
    for (const std::size_t size : std::vector<std::size_t>{1, 54, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 8191, 8192, 100'003}) {
        SCOPED_TRACE(size);
        const Bytes message = patterned(size);
        {
            const std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file.c_str(), "wb"), &std::fclose);
            ASSERT_TRUE(out);
            ASSERT_EQ(std::fwrite(message.data(), 1, message.size(), out.get()), message.size());
        }
        const std::string command = "sha256sum '" + file.string() + "'";
        const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
        ASSERT_TRUE(pipe);
        char line[65] = {};
        ASSERT_EQ(std::fread(line, 1, 64, pipe.get()), 64u);
        EXPECT_EQ(hex(message), std::string(line, 64));
    }
    std::filesystem::remove(file);
}

TEST(Sha256Test, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const Bytes message = patterned(300);
    const std::string whole = hex(message);
    for (std::size_t piece = 1; piece <= 130; ++piece) {
        SCOPED_TRACE(piece);
        Sha256 hash;
        for (std::size_t at = 0; at < message.size(); at += piece) {
            hash.update(message.data() + at, std::min(piece, message.size() - at));
        }
        EXPECT_EQ(hash.hex_digest(), whole);
    }
}

TEST(Sha256Test, ReadingTheDigestLeavesTheHashToGoOn) {
    const Bytes message = patterned(200);
    Sha256 hash;
    hash.update(message.data(), 70);
    EXPECT_EQ(hash.hex_digest(), sha256_hex(message.data(), 70));
    hash.update(nullptr, 0);
    hash.update(message.data() + 70, 130);
    EXPECT_EQ(hash.hex_digest(), hex(message));
}

}  // namespace
}  // namespace fwup::sim
