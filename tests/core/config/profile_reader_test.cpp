#include "core/config/profile_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/core/config/temp_dir.h"

namespace fwup {
namespace {

using namespace std::string_literals;

struct StringCase {
    const char* name;
    std::string file;
    std::string section;
    std::string key;
    std::string default_value;
    std::optional<std::size_t> buffer;  // none: the unbounded lookup
    std::string expected;
};

TEST(ProfileReader, ReadsStringsLikeThePrivateProfileFunctions) {
    const std::string basic = "[Download]\nModel=LX-300\n";
    const std::vector<StringCase> cases = {
        {"plain value", basic, "Download", "Model", "dflt", std::nullopt, "LX-300"},
        {"missing section", basic, "Upload", "Model", "dflt", std::nullopt, "dflt"},
        {"missing key", basic, "Download", "Mode", "dflt", std::nullopt, "dflt"},
        {"empty file", "", "Download", "Model", "dflt", std::nullopt, "dflt"},
        {"names ignore case, value keeps it", "[DownLoad]\nMODEL=LX-300\n", "download", "model",
         "", std::nullopt, "LX-300"},
        {"blanks around key, = and value", "[s]\n \t key \t= \t a b \t\n", "s", "key", "",
         std::nullopt, "a b"},
        {"blanks in and before section header", "  [ \t my sec \t] \nk=v\n", "My Sec", "k", "",
         std::nullopt, "v"},
        {"caller names lose spaces", basic, "  Download ", " Model  ", "", std::nullopt,
         "LX-300"},
        {"caller names keep tabs", basic, "Download", "\tModel", "dflt", std::nullopt, "dflt"},
        {"inner blanks of names matter", "[a b]\nk=v\n", "ab", "k", "dflt", std::nullopt,
         "dflt"},
        {"double quotes removed", "[s]\nk=\" a b \"\n", "s", "k", "", std::nullopt, " a b "},
        {"single quotes removed", "[s]\nk='x'\n", "s", "k", "", std::nullopt, "x"},
        {"quotes removed after trimming", "[s]\nk=  \"x\"  \n", "s", "k", "", std::nullopt, "x"},
        {"only the outer pair", "[s]\nk=\"\"x\"\"\n", "s", "k", "", std::nullopt, "\"x\""},
        {"mismatched quotes stay", "[s]\nk=\"x'\n", "s", "k", "", std::nullopt, "\"x'"},
        {"lone opening quote stays", "[s]\nk=\"x\n", "s", "k", "", std::nullopt, "\"x"},
        {"single quote character stays", "[s]\nk=\"\n", "s", "k", "", std::nullopt, "\""},
        {"empty quotes give empty value", "[s]\nk=\"\"\n", "s", "k", "dflt", std::nullopt, ""},
        {"empty value is not the default", "[s]\nk=\n", "s", "k", "dflt", std::nullopt, ""},
        {"inner quotes stay", "[s]\nk=a\"b\"\n", "s", "k", "", std::nullopt, "a\"b\""},
        {"first = separates", "[s]\nk=a=b\n", "s", "k", "", std::nullopt, "a=b"},
        {"semicolon line is a comment", "[s]\n;k=1\n  ; k=2\nk=3\n", "s", "k", "", std::nullopt,
         "3"},
        {"hash is not a comment", "[s]\n#k=1\n", "s", "#k", "", std::nullopt, "1"},
        {"no trailing comments", "[s]\nk=v ;x\n", "s", "k", "", std::nullopt, "v ;x"},
        {"text after ] ignored", "[s] trailing text\nk=v\n", "s", "k", "", std::nullopt, "v"},
        {"header ends at the first ]", "[sec]whoops]\nk=v\n", "sec", "k", "", std::nullopt, "v"},
        {"nothing of a name past the first ]", "[sec]whoops]\nk=v\n", "sec]whoops", "k", "dflt",
         std::nullopt, "dflt"},
        {"[ without ] opens a section", "[s]\n[ t \t\nk=v\n", "t", "k", "", std::nullopt, "v"},
        {"[ without ] closes the section before", "[s]\n[t\nk=v\n", "s", "k", "dflt", std::nullopt,
         "dflt"},
        {"vertical tabs around a value", "[s]\nk=\v v w \v\t\n", "s", "k", "", std::nullopt, "v w"},
        {"vertical tabs inside a value stay", "[s]\nk=v\vw\n", "s", "k", "", std::nullopt, "v\vw"},
        {"vertical tabs dropped before quotes", "[s]\nk=\v\" x \"\v\n", "s", "k", "", std::nullopt, " x "},
        {"lines before the first section unreadable", "k=v\n[s]\n", "", "k", "dflt",
         std::nullopt, "dflt"},
        {"line without = holds no key", "[s]\nk\n", "s", "k", "dflt", std::nullopt, "dflt"},
        {"first key wins", "[s]\nk=1\nK=2\n", "s", "k", "", std::nullopt, "1"},
        {"only the first copy of a section", "[s]\na=1\n[t]\n[S]\nb=2\n", "s", "b", "dflt",
         std::nullopt, "dflt"},
        {"CRLF", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "", std::nullopt, "w"},
        {"CR", "[s]\rk=v\rj=w\r", "s", "j", "", std::nullopt, "w"},
        {"LF without final newline", "[s]\nk=v", "s", "k", "", std::nullopt, "v"},
        {"mixed line ends", "[s]\rk=v\r\n\nj=w\n", "s", "k", "", std::nullopt, "v"},
        {"UTF-8 mark hides a first-line header", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "dflt",
         std::nullopt, "dflt"},
        {"UTF-8 mark on an earlier line is harmless", "\xEF\xBB\xBF\n[s]\nk=v\n", "s", "k", "",
         std::nullopt, "v"},
        {"UTF-16LE file", "\xFF\xFE[\0s\0]\0\r\0\n\0k\0=\0\xE9\0\x3A\x04\n\0"s, "s", "k", "",
         std::nullopt, "\xE9?"},
        {"value stops at a zero byte", "[s]\nk=ab\0cd\nj=w\n"s, "s", "k", "", std::nullopt, "ab"},
        {"zero byte in caller name", basic, "Download\0x"s, "Model", "", std::nullopt, "LX-300"},
        {"default loses trailing spaces only", basic, "x", "k", "  dflt \t  ", std::nullopt,
         "  dflt \t"},
        // Truncation to buffer size - 1.
        {"value fits exactly", basic, "Download", "Model", "", 7, "LX-300"},
        {"value cut", basic, "Download", "Model", "", 6, "LX-30"},
        {"buffer of one", basic, "Download", "Model", "", 1, ""},
        {"buffer of zero", basic, "Download", "Model", "", 0, ""},
        {"default cut too", basic, "x", "k", "Unknown", 4, "Unk"},
        {"default stripped before cutting", basic, "x", "k", "ab   ", 4, "ab"},
        {"quotes removed before cutting", "[s]\nk=\"abcdef\"\n", "s", "k", "", 4, "abc"},
    };
    for (const StringCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Profile profile = Profile::parse(c.file);
        const std::string got =
            c.buffer ? profile.get_string(c.section, c.key, c.default_value, *c.buffer)
                     : profile.get_string(c.section, c.key, c.default_value);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ProfileReader, ReadsIntegersLikeThePrivateProfileFunctions) {
    struct Case {
        std::optional<std::string> line;  // none: the key is absent
        std::int32_t default_value;
        std::int32_t expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, 100, 100},
        {"v=", 100, 100},
        {"v=\"\"", 100, 100},
        {"v=   ", 7, 7},
        {"v=106", 100, 106},
        {"v=0", 100, 0},
        {"v=-1", 100, -1},
        {"v=+7", 100, 7},
        {"v=\"  12\"", 100, 12},
        {"v=\"\t-3\"", 100, -3},
        {"v=12 34", 100, 12},
        {"v=42A94967297", 100, 42},
        {"v=B4294967297", 100, 0},
        {"v=abc", 100, 0},
        {"v=-", 100, 0},
        {"v=+-1", 100, 0},
        {"v=--1", 100, 0},
        {"v=0x10", 100, 0},
        {"v=2147483647", 0, 2147483647},
        {"v=2147483648", 0, INT32_MIN},
        {"v=4294967295", 0, -1},
        {"v=4294967297", 0, 1},
        {"v=-2147483649", 0, INT32_MAX},
        {"v=-4294967297", 0, -1},
        {"v=18446744073709551617", 0, 1},  // 2^64 + 1
        {"v=000000000000000000000000000000042", 0, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.value_or("<absent>"));
        const Profile profile = Profile::parse("[s]\n" + c.line.value_or("other=5") + "\n");
        EXPECT_EQ(profile.get_int("s", "V", c.default_value), c.expected);
    }
}

TEST(ProfileReader, ReportsWhichSectionsAndKeysExist) {
    const Profile profile = Profile::parse("k0=v\n[A]\nk1=\nnokey\n[]\nk2=x\n[B]\n");
    struct Case {
        const char* section;
        const char* key;
        bool section_exists;
        bool key_exists;
    };
    const std::vector<Case> cases = {
        {"a", "K1", true, true},    {"a", "nokey", true, false}, {"a", "k0", true, false},
        {"", "k0", true, false},    {"", "k2", true, true},      {"b", "k1", true, false},
        {"c", "k1", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(profile.has_section(c.section), c.section_exists);
        EXPECT_EQ(profile.has_key(c.section, c.key), c.key_exists);
    }
}

TEST(ProfileReader, LoadsFilesAndRefusesWhatCannotBeRead) {
    const test::TempDir dir;
    const auto file = dir.write("FWINFO.INI", "[Download]\r\nModel=LX-300\r\n");
    const auto empty = dir.write("empty.ini", "");

    const std::optional<Profile> loaded = Profile::load(file);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->get_string("Download", "Model", ""), "LX-300");

    const std::optional<Profile> blank = Profile::load(empty);
    ASSERT_TRUE(blank.has_value());
    EXPECT_FALSE(blank->has_section("Download"));

    EXPECT_FALSE(Profile::load(dir.path() / "missing.ini").has_value());
    EXPECT_FALSE(Profile::load(dir.path()).has_value());
}

TEST(ProfileReader, ReadsLargeFilesWhole) {
    // Larger than the reader's chunk, with the key at the very end.
    const test::TempDir dir;
    std::string bytes = "[s]\n";
    for (int i = 0; i < 2000; ++i) bytes += "filler" + std::to_string(i) + "=x\n";
    bytes += "last=end";
    const auto loaded = Profile::load(dir.write("big.ini", bytes));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->get_string("s", "last", ""), "end");
}

TEST(ProfileReader, SurvivesArbitraryBytes) {
    // Bytes the parser treats specially, so that random files exercise every branch.
    const std::string alphabet = "[]=;\"' \t\v\r\n\0\xFF\xFE\xEF\xBB\xBFkKs5-+"s;
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> length(0, 64);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(length(random), '\0');
        for (char& b : bytes) b = alphabet[pick(random)];
        const Profile profile = Profile::parse(bytes);
        for (const char* section : {"s", "", "k"}) {
            for (std::size_t size : {0U, 1U, 2U, 64U}) {
                const std::size_t room = size == 0 ? std::size_t{0} : size - 1;
                EXPECT_LE(profile.get_string(section, "k", "dd", size).size(), room);
            }
            static_cast<void>(profile.get_int(section, "K", 1));
            static_cast<void>(profile.has_key(section, "k"));
        }
    }
}

}  // namespace
}  // namespace fwup
