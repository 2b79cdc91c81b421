#include "sim/digest/sha256.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace fwup::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

using Engine = Sha256::Engine;

std::string hex_with(Engine engine, const Bytes& message) {
    Sha256 hash(engine);
    hash.update(message.data(), message.size());
    return hash.hex_digest();
}

// A message of `size` bytes that repeats no short pattern.
Bytes patterned(std::size_t size) {
    Bytes message(size);
    for (std::size_t i = 0; i < size; ++i) message[i] = static_cast<std::uint8_t>(i * 167 + i / 256);
    return message;
}

// Every case runs on each engine: the portable code, and the processor's SHA
// instructions where this processor has them.
class Sha256Test : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        if (!Sha256::available(GetParam())) GTEST_SKIP() << "this processor has no SHA instructions";
    }
    Engine engine() const { return GetParam(); }
    std::string hex(const Bytes& message) const { return hex_with(engine(), message); }
};

INSTANTIATE_TEST_SUITE_P(Engines, Sha256Test, testing::Values(Engine::Portable, Engine::Processor),
                         [](const testing::TestParamInfo<Engine>& engine) {
                             return engine.param == Engine::Portable ? "Portable" : "Processor";
                         });

TEST_P(Sha256Test, PublishedTestVectors) {
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
TEST_P(Sha256Test, AgreesWithSha256sumAroundEveryPaddingBoundary) {
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

TEST_P(Sha256Test, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
    const Bytes message = patterned(300);
    const std::string whole = hex(message);
    for (std::size_t piece = 1; piece <= 130; ++piece) {
        SCOPED_TRACE(piece);
        Sha256 hash(engine());
        for (std::size_t at = 0; at < message.size(); at += piece) {
            hash.update(message.data() + at, std::min(piece, message.size() - at));
        }
        EXPECT_EQ(hash.hex_digest(), whole);
    }
}

TEST_P(Sha256Test, ReadingTheDigestLeavesTheHashToGoOn) {
    const Bytes message = patterned(200);
    Sha256 hash(engine());
    hash.update(message.data(), 70);
    EXPECT_EQ(hash.hex_digest(), hex(Bytes(message.begin(), message.begin() + 70)));
    hash.update(nullptr, 0);
    hash.update(message.data() + 70, 130);
    EXPECT_EQ(hash.hex_digest(), hex(message));
}

// Random messages fed in random pieces, many blocks at a time among them,
// against the portable code as the reference.
TEST_P(Sha256Test, RandomMessagesInRandomPiecesAgreeWithThePortableCode) {
    std::mt19937 random(21);
    for (int round = 0; round < 200; ++round) {
        Bytes message(std::uniform_int_distribution<std::size_t>(0, 20'000)(random));
        for (std::uint8_t& byte : message) byte = static_cast<std::uint8_t>(random());
        SCOPED_TRACE(message.size());
        Sha256 hash(engine());
        for (std::size_t at = 0; at < message.size();) {
            const std::size_t piece =
                std::min(message.size() - at, std::uniform_int_distribution<std::size_t>(0, 9000)(random));
            hash.update(message.data() + at, piece);
            at += piece;
        }
        ASSERT_EQ(hash.hex_digest(), hex_with(Engine::Portable, message));
    }
}

TEST(Sha256EngineTest, TheDefaultIsTheFastestAvailableEngine) {
    EXPECT_TRUE(Sha256::available(Engine::Portable));
    EXPECT_EQ(Sha256().engine(), Sha256::best_engine());
    EXPECT_EQ(Sha256(Engine::Portable).engine(), Engine::Portable);
    // One the processor lacks falls back to the portable code.
    EXPECT_EQ(Sha256(Engine::Processor).engine(),
              Sha256::available(Engine::Processor) ? Engine::Processor : Engine::Portable);
    EXPECT_EQ(sha256_hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace fwup::sim
