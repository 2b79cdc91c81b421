#include "core/platform/platform_flags.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fwup {
namespace {

class FixedVersion : public OsVersionSource {
public:
    explicit FixedVersion(std::optional<OsVersion> version) : version_(version) {}
    std::optional<OsVersion> query() override {
        ++queries;
        return version_;
    }
    int queries = 0;

private:
    std::optional<OsVersion> version_;
};

struct Case {
    const char* system;
    std::optional<OsVersion> version;  // none: the query fails
    bool is_nt;
    bool is_win98;
    bool is_win2000;
    bool is_vista_or_later;
    bool usb_model_check;
};

TEST(PlatformFlags, FollowTheReportedVersion) {
    const std::vector<Case> cases = {
        {"Windows 95", OsVersion{OsVersion::kWindows9x, 4, 0}, false, false, false, false, true},
        {"Windows 98", OsVersion{OsVersion::kWindows9x, 4, 10}, false, true, false, false, true},
        {"Windows Me", OsVersion{OsVersion::kWindows9x, 4, 90}, false, false, false, false, true},
        {"9x family, odd major", OsVersion{OsVersion::kWindows9x, 5, 10}, false, true, false, false, true},
        {"NT 4.0", OsVersion{OsVersion::kWindowsNt, 4, 0}, true, false, false, false, false},
        {"Windows 2000", OsVersion{OsVersion::kWindowsNt, 5, 0}, true, false, true, false, false},
        {"Windows XP", OsVersion{OsVersion::kWindowsNt, 5, 1}, true, false, true, false, false},
        {"Windows 7", OsVersion{OsVersion::kWindowsNt, 6, 1}, true, false, false, true, false},
        {"Windows 10", OsVersion{OsVersion::kWindowsNt, 10, 0}, true, false, false, true, false},
        {"NT family, minor 10", OsVersion{OsVersion::kWindowsNt, 4, 10}, true, false, false, false, false},
        {"NT 5.0 that asks for the model check over USB", OsVersion{OsVersion::kWindowsNt, 5, 0, true}, true,
         false, true, false, true},
        {"Win32s", OsVersion{0, 3, 10}, false, false, false, false, true},
        {"unknown platform", OsVersion{3, 5, 10}, false, false, false, false, true},
        {"failed query", std::nullopt, false, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        FixedVersion source(c.version);
        const PlatformFlags flags = detect_platform(source);
        EXPECT_EQ(source.queries, 1);
        EXPECT_EQ(flags.is_nt, c.is_nt);
        EXPECT_EQ(flags.is_win98, c.is_win98);
        EXPECT_EQ(flags.is_win2000, c.is_win2000);
        EXPECT_EQ(flags.is_vista_or_later, c.is_vista_or_later);
        EXPECT_EQ(flags.usb_model_check, c.usb_model_check);
    }
}

}  // namespace
}  // namespace fwup
