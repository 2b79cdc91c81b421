#include "core/config/upgrade_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/config/profile_reader.h"
#include "tests/core/config/temp_dir.h"

namespace fwup {
namespace {

void expect_settings(const UpgradeSettings& got, const UpgradeSettings& want) {
    EXPECT_EQ(got.model_name, want.model_name);
    EXPECT_EQ(got.firmware_file, want.firmware_file);
    EXPECT_EQ(got.file_version, want.file_version);
    EXPECT_EQ(got.esc, want.esc);
    EXPECT_EQ(got.lpt, want.lpt);
    EXPECT_EQ(got.demo, want.demo);
}

UpgradeSettings settings(std::string model, std::string file, std::int32_t version,
                         std::int32_t esc, std::int32_t lpt, std::int32_t demo) {
    UpgradeSettings s;
    s.model_name = std::move(model);
    s.firmware_file = std::move(file);
    s.file_version = version;
    s.esc = esc;
    s.lpt = lpt;
    s.demo = demo;
    return s;
}

const std::string kFullFile =
    "[Download]\r\n"
    "Model=LX-300\r\n"
    "\r\n"
    "[LX-300]\r\n"
    "FW_File=lx300.bin\r\n"
    "File_Ver=106\r\n"
    "ESC=1\r\n"
    "LPT=2\r\n"
    "Demo=1\r\n";

TEST(UpgradeSettings, ReadsEachKeyFromTheModelSection) {
    const std::string long_model(200, 'M');
    const std::string cut_model(127, 'M');
    const std::string long_file(100, 'f');
    // 126 letters, a space, more letters: the cut name ends in a space, which
    // the section lookup drops.
    const std::string spaced_model = std::string(126, 'S') + " tail";

    struct Case {
        const char* name;
        std::string file;
        UpgradeSettings expected;
    };
    const std::vector<Case> cases = {
        {"empty file", "", UpgradeSettings{}},
        {"full file", kFullFile, settings("LX-300", "lx300.bin", 106, 1, 2, 1)},
        {"model without its section", "[Download]\nModel=LX-300\nFW_File=x.bin\n",
         settings("LX-300", "Unknown", 100, 0, 1, 0)},
        {"missing keys keep their defaults", "[Download]\nModel=A\n[A]\nFile_Ver=90\n",
         settings("A", "Unknown", 90, 0, 1, 0)},
        {"section found without case and spaces",
         "[download]\nmodel = \"LX 300\" \n[  lx 300 ]\nfw_file = a b.bin\nlpt=3\n",
         settings("LX 300", "a b.bin", 100, 0, 3, 0)},
        {"long model cut, section under the cut name",
         "[Download]\nModel=" + long_model + "\n[" + cut_model + "]\nFile_Ver=200\n",
         settings(cut_model, "Unknown", 200, 0, 1, 0)},
        {"section under the uncut name is not found",
         "[Download]\nModel=" + long_model + "\n[" + long_model + "]\nFile_Ver=200\n",
         settings(cut_model, "Unknown", 100, 0, 1, 0)},
        {"cut name ending in a space",
         "[Download]\nModel=" + spaced_model + "\n[" + std::string(126, 'S') + "]\nDemo=1\n",
         settings(std::string(126, 'S') + " ", "Unknown", 100, 0, 1, 1)},
        {"long image file name cut to 63",
         "[Download]\nModel=A\n[A]\nFW_File=" + long_file + "\n",
         settings("A", std::string(63, 'f'), 100, 0, 1, 0)},
        {"out-of-range values kept as read", "[Download]\nModel=A\n[A]\nESC=7\nLPT=-2\nDemo=-1\n",
         settings("A", "Unknown", 100, 7, -2, -1)},
        {"empty values give the integer defaults",
         "[Download]\nModel=A\n[A]\nFW_File=\nFile_Ver=\nESC=\nLPT=\nDemo=\n",
         settings("A", "", 100, 0, 1, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_settings(read_upgrade_settings(Profile::parse(c.file)), c.expected);
    }
}

TEST(UpgradeSettings, MissingFileGivesTheDefaults) {
    const test::TempDir dir;
    expect_settings(read_upgrade_settings_file(dir.path() / "FWINFO.INI"),
                    settings("Unknown", "Unknown", 100, 0, 1, 0));
}

TEST(UpgradeSettings, ReadsTheFileWithoutChangingIt) {
    const test::TempDir dir;
    const auto path = dir.write("FWINFO.INI", kFullFile);
    expect_settings(read_upgrade_settings_file(path), settings("LX-300", "lx300.bin", 106, 1, 2, 1));

    std::ifstream in(path, std::ios::binary);
    std::ostringstream after;
    after << in.rdbuf();
    EXPECT_EQ(after.str(), kFullFile);
}

TEST(UpgradeSettings, DefaultPathIsTheWorkingDirectory) {
    const test::TempDir dir;
    dir.write("FWINFO.INI", kFullFile);
    const test::ScopedWorkingDirectory in_dir(dir.path());
    EXPECT_EQ(read_upgrade_settings_file().model_name, "LX-300");
}

}  // namespace
}  // namespace fwup
