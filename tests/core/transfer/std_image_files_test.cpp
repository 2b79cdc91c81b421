#include "core/transfer/std_image_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/memory_image_files.h"

namespace fwup {
namespace {

namespace fs = std::filesystem;

class StdImageFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("std_image_files_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    fs::path dir_;
    StdImageFiles files_;
};

TEST_F(StdImageFilesTest, ReadsTheFileInBlocksUntilEndOfFile) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{8192}, std::size_t{20'000}}) {
        const auto bytes = test::pattern(size);
        auto file = files_.open(write_file("image.bin", bytes));
        ASSERT_TRUE(file) << size;
        EXPECT_EQ(file->size(), size);
        std::vector<std::uint8_t> read_back;
        std::vector<std::uint8_t> block(8192);
        for (;;) {
            std::uint32_t got = 99;
            ASSERT_TRUE(file->read(block.data(), 8192, got));
            if (got == 0) break;
            read_back.insert(read_back.end(), block.begin(), block.begin() + got);
        }
        EXPECT_EQ(read_back, bytes) << size;
        std::uint32_t got = 99;
        EXPECT_TRUE(file->read(block.data(), 8192, got)) << "end of file stays a successful empty read";
        EXPECT_EQ(got, 0u);
    }
}

TEST_F(StdImageFilesTest, RefusesWhatIsNoImageFile) {
    EXPECT_FALSE(files_.open((dir_ / "missing.bin").string()));
    EXPECT_FALSE(files_.open(dir_.string())) << "a directory";
    EXPECT_FALSE(files_.open(""));
}

}  // namespace
}  // namespace fwup
