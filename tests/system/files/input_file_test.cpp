#include "system/files/input_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fwup {
namespace {

namespace fs = std::filesystem;

class InputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("input_file_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file_of_size(const std::string& name, std::uintmax_t size) const {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary).put('F');
        fs::resize_file(path, size);  // sparse beyond the first byte: no disk space needed
        return path.string();
    }

    fs::path dir_;
};

TEST_F(InputFileTest, ReportsKindAndSizeInSixtyFourBits) {
    constexpr std::uint64_t kBeyondFourGiB = (std::uint64_t{1} << 32U) + 3;
    const struct {
        const char* what;
        std::string path;
        InputFile::Kind kind;
        std::uint64_t size;
    } cases[] = {
        {"one byte", file_of_size("one.bin", 1), InputFile::Kind::Regular, 1},
        {"beyond 4 GiB", file_of_size("big.bin", kBeyondFourGiB), InputFile::Kind::Regular, kBeyondFourGiB},
        {"a directory", dir_.string(), InputFile::Kind::Directory, 0},
        {"a device", "/dev/null", InputFile::Kind::Other, 0},
    };
    for (const auto& c : cases) {
        const auto file = InputFile::open(c.path);
        ASSERT_TRUE(file) << c.what;
        EXPECT_EQ(file->kind(), c.kind) << c.what;
        EXPECT_EQ(file->size(), c.size) << c.what;
    }
    EXPECT_FALSE(InputFile::open((dir_ / "missing").string()));
    EXPECT_FALSE(InputFile::open(""));
}

TEST_F(InputFileTest, ReadsAWholeFileOverSeveralChunksButNoDirectory) {
    std::string written;
    for (int i = 0; i < 10'000; ++i) written += static_cast<char>(i * 7);
    const fs::path path = dir_ / "text.ini";
    std::ofstream(path, std::ios::binary) << written;

    std::string bytes = "left over";
    ASSERT_TRUE(read_whole_file(path.string(), bytes));
    EXPECT_EQ(bytes, written);
    EXPECT_FALSE(read_whole_file(dir_.string(), bytes));
    EXPECT_FALSE(read_whole_file((dir_ / "missing").string(), bytes));
}

}  // namespace
}  // namespace fwup
