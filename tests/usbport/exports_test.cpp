// The C exports over the statically bound instance, and the built shared
// library loaded the way the upgrade program loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "usbport/exports/static_binding.h"
#include "usbport_test_support.h"
#include "veltport.h"

namespace veltport::testing {
namespace {

class StaticBindingTest : public ::testing::Test {
protected:
    void TearDown() override { unbind_device_layer(); }
};

TEST_F(StaticBindingTest, ExportsRunOverTheBoundDeviceLayer) {
    Rig rig(kWin2000);
    rig.add_printer(MS_USBPRINT_GUID, kPrinterPath);
    bind_device_layer(rig.tree);

    char id[256];
    std::uint32_t capacity = 255;
    ASSERT_EQ(::GetDeviceID(id, &capacity), 1);
    EXPECT_STREQ(id, fwup::sim::PrinterConfig{}.device_id.c_str());
    EXPECT_TRUE(bound_library().win2k());
    const unsigned char query[] = {0xA5, 0x00, 0x04, 0x50, 0xE0, 0x82, 0x06};
    std::uint32_t count = 0;
    EXPECT_EQ(::WriteToUsbPort(query, 7, &count, "1000"), VELTPORT_OK);
    unsigned char reply[255] = {};
    EXPECT_EQ(::ReadFromUsbPort(reply, 10, &count, "1000"), VELTPORT_OK);
    EXPECT_EQ(count, 10u);
    std::vector<char> name(4096);
    EXPECT_EQ(::GetModelName(name.data()), 1);
    EXPECT_STREQ(name.data(), "Virtual Printer");
    std::uint16_t vendor = 0;
    EXPECT_EQ(::GetVendorID(&vendor), 1);
    EXPECT_EQ(vendor, 0x043D);
    EXPECT_EQ(::GetControlPortName(name.data(), 4096), 1);
    EXPECT_EQ(::GetWritePortName(name.data(), 4096), 1);
    EXPECT_EQ(::GetReadPortName(name.data(), 4096), 1);
    EXPECT_EQ(std::string(name.data()), kPrinterPath + "\\PIPE01");
    expect_all_released(rig.tree);
}

TEST_F(StaticBindingTest, BindingStartsFromTheLoadTimeState) {
    Rig first(kWin2000);
    first.add_printer(MS_USBPRINT_GUID, "first");
    bind_device_layer(first.tree);
    char id[256];
    std::uint32_t capacity = 255;
    ASSERT_EQ(::GetDeviceID(id, &capacity), 1);
    const unsigned char byte = 0;
    std::uint32_t count = 0;
    ASSERT_EQ(::WriteToUsbPort(&byte, 1, &count, "1000"), VELTPORT_OK);
    ASSERT_TRUE(bound_library().port_names_cached());

    Rig second(kWin2000);
    bind_device_layer(second.tree);
    EXPECT_FALSE(bound_library().win2k());
    EXPECT_FALSE(bound_library().port_names_cached());
    EXPECT_STREQ(bound_library().control_port(), "");
    EXPECT_STREQ(bound_library().complete_device_name(), "");
    EXPECT_EQ(::WriteToUsbPort(&byte, 1, &count, "1000"), VELTPORT_NO_PRINTER);
    expect_all_released(first.tree);
    expect_all_released(second.tree);
}

// The shared library as built, loaded by path and bound by name. On Linux its
// device layer sees no USB printer, like a PC without one.
TEST(SharedLibraryTest, LoadsByPathAndAnswersWithoutAPrinter) {
    void* library = dlopen(VELTPORT_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name : {"ReadFromUsbPort", "WriteToUsbPort", "GetDeviceID", "GetModelName", "GetVendorID",
                             "GetControlPortName", "GetWritePortName", "GetReadPortName"}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    EXPECT_EQ(dlsym(library, "_ZN8veltport17bind_device_layerERNS_11DeviceLayerE"), nullptr)
        << "internal names stay hidden";
    const auto get_device_id = reinterpret_cast<GetDeviceIDFn>(dlsym(library, "GetDeviceID"));
    const auto write = reinterpret_cast<WriteToUsbPortFn>(dlsym(library, "WriteToUsbPort"));
    ASSERT_NE(get_device_id, nullptr);
    ASSERT_NE(write, nullptr);
    char id[256] = "untouched";
    std::uint32_t capacity = 255;
    EXPECT_EQ(get_device_id(id, &capacity), 0);
    EXPECT_EQ(capacity, 255u);
    EXPECT_STREQ(id, "untouched");
    const unsigned char byte = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(write(&byte, 1, &count, "1000"), VELTPORT_NO_PRINTER);
    dlclose(library);
}

}  // namespace
}  // namespace veltport::testing
