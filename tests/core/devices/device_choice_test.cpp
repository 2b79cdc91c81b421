#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/devices/device_choice.h"

namespace fwup {
namespace {

using Kind = DeviceAddress::Kind;

TEST(DeviceAddress, EachFormReadsAsItsKindAndOthersAreRefused) {
    struct Row {
        std::string text;
        std::optional<DeviceAddress> address;  // none: refused
        std::string error = {};
    };
    const std::vector<Row> rows{
        {"/dev/usb/lp1", DeviceAddress{Kind::UsbPath, "/dev/usb/lp1"}},
        {"Printer2", DeviceAddress{Kind::VirtualSection, "Printer2"}},
        {"[Printer2]", DeviceAddress{Kind::VirtualSection, "Printer2"}},
        {"", std::nullopt, "an empty device address"},
        {"[]", std::nullopt, "\"[]\" is neither a device path (/dev/usb/lp1) nor a virtual printer's section ([Printer2])"},
        {"usb/lp1", std::nullopt,
         "\"usb/lp1\" is neither a device path (/dev/usb/lp1) nor a virtual printer's section ([Printer2])"},
        {"ipp://printer/ipp/print", std::nullopt,
         "\"ipp://printer/ipp/print\": this program reaches no printer of the kind \"ipp://\""},
        {"socket://printer", DeviceAddress{Kind::Network, "printer", 9100}},
        {"socket://10.0.0.5:9101", DeviceAddress{Kind::Network, "10.0.0.5", 9101}},
        {"socket://[fe80::1%eth0]", DeviceAddress{Kind::Network, "fe80::1%eth0", 9100}},
        {"socket://[::1]:9100", DeviceAddress{Kind::Network, "::1", 9100}},
        {"socket://printer:0", std::nullopt, "\"socket://printer:0\": the port must be a number from 1 to 65535"},
        {"socket://printer:", std::nullopt, "\"socket://printer:\": the port must be a number from 1 to 65535"},
        {"socket://printer:65536", std::nullopt,
         "\"socket://printer:65536\": the port must be a number from 1 to 65535"},
        {"socket://", std::nullopt, "\"socket://\": a network printer is named socket://HOST or socket://HOST:PORT"},
        {"socket://[::1", std::nullopt,
         "\"socket://[::1\": a network printer is named socket://HOST or socket://HOST:PORT"},
        {"socket://host/queue", std::nullopt,
         "\"socket://host/queue\": a network printer is named socket://HOST or socket://HOST:PORT"},
        {std::string("/dev/usb/lp1\0x", 14), std::nullopt, "a device path holding a NUL byte"},
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_EQ(parse_device_address(row.text, error), row.address) << row.text;
        EXPECT_EQ(error, row.error) << row.text;
    }
    EXPECT_EQ((DeviceAddress{Kind::VirtualSection, "Printer2"}.display()), "[Printer2]");
    EXPECT_EQ((DeviceAddress{Kind::Network, "::1", 9100}.display()), "socket://[::1]:9100");
    EXPECT_EQ((DeviceAddress{Kind::Network, "printer", 9101}.display()), "socket://printer:9101");
}

AttachedPrinter usb(const std::string& path, const std::string& id, bool answers = true) {
    return AttachedPrinter{"USB", path, DeviceAddress{Kind::UsbPath, path}, 0x043D, id, answers, ""};
}

TEST(DeviceChoice, NeverGuessesBeforeAnUpgrade) {
    const AttachedPrinter lp0 = usb("/dev/usb/lp0", "MFG:A;MDL:VP-1000;");
    const AttachedPrinter lp1 = usb("/dev/usb/lp1", "MODEL:VP-2000;");
    const AttachedPrinter busy = usb("/dev/usb/lp0", "", false);
    const AttachedPrinter lpt{"LPT1", "[Printer3]", DeviceAddress{Kind::VirtualSection, "Printer3"}, {}, {}, true, ""};
    const AttachedPrinter net{"NET", "[Printer2]", DeviceAddress{Kind::VirtualSection, "Printer2"}, {}, {}, true, ""};
    using O = DeviceChoice::Outcome;
    struct Row {
        std::string name;
        std::vector<AttachedPrinter> printers;
        std::optional<DeviceAddress> wanted;
        DeviceIntent intent;
        O outcome;
        std::string printer;  // the device the run talks to; empty: none
        std::string message = {};
    };
    const std::vector<Row> rows{
        {"nothing attached", {lpt}, std::nullopt, DeviceIntent::Upgrade, O::NoUsbPrinter, ""},
        {"one printer", {lp0, lpt}, std::nullopt, DeviceIntent::Upgrade, O::Only, "/dev/usb/lp0"},
        {"two, upgrade", {lp0, lp1}, std::nullopt, DeviceIntent::Upgrade, O::Refused, "",
         "2 USB printers are attached (/dev/usb/lp0 (VP-1000), /dev/usb/lp1 (VP-2000)): say which one to upgrade "
         "with --device; nothing was sent"},
        {"two, verify", {lp0, lp1}, std::nullopt, DeviceIntent::Verify, O::FirstOfSeveral, "/dev/usb/lp0",
         "the first that opens of 2 USB printers; choose one with --device"},
        {"two, the first in use", {busy, lp1}, std::nullopt, DeviceIntent::Verify, O::FirstOfSeveral, "/dev/usb/lp1",
         "the first that opens of 2 USB printers; choose one with --device"},
        {"chosen", {lp0, lp1}, DeviceAddress{Kind::UsbPath, "/dev/usb/lp1"}, DeviceIntent::Upgrade, O::Chosen,
         "/dev/usb/lp1"},
        {"chosen though alone", {lp0}, DeviceAddress{Kind::UsbPath, "/dev/usb/lp0"}, DeviceIntent::Upgrade, O::Chosen,
         "/dev/usb/lp0"},
        {"a path of no printer", {lp0}, DeviceAddress{Kind::UsbPath, "/dev/usb/lp7"}, DeviceIntent::Verify, O::Refused,
         "", "--device /dev/usb/lp7 names no printer; the USB printers attached: /dev/usb/lp0 (VP-1000)"},
        {"nothing to choose from", {}, DeviceAddress{Kind::UsbPath, "/dev/usb/lp0"}, DeviceIntent::Verify, O::Refused,
         "", "--device /dev/usb/lp0 names no printer; no USB printer is attached"},
        {"another kind of address", {lp0}, DeviceAddress{Kind::VirtualSection, "lp0"}, DeviceIntent::Verify,
         O::Refused, "", "--device [lp0] names no printer; the USB printers attached: /dev/usb/lp0 (VP-1000)"},
        {"a section in another letter case", {lpt}, DeviceAddress{Kind::VirtualSection, "PRINTER3"},
         DeviceIntent::Verify, O::Refused, "",
         "--device [PRINTER3] names the printer on LPT1; --device chooses a USB printer, the parallel port is the "
         "settings' LPT"},
        {"a network address, though USB printers are attached", {lp0, lp1},
         DeviceAddress{Kind::Network, "printer", 9100}, DeviceIntent::Upgrade, O::Chosen, "socket://printer:9100"},
        {"a virtual network printer by its section", {lp0, net}, DeviceAddress{Kind::VirtualSection, "Printer2"},
         DeviceIntent::Upgrade, O::Chosen, "[Printer2]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const DeviceChoice choice = choose_device(row.printers, row.wanted, row.intent, "--device");
        EXPECT_EQ(choice.outcome, row.outcome);
        EXPECT_EQ(choice.printer ? choice.printer->device : "", row.printer);
        EXPECT_EQ(choice.message, row.message);
    }
}

TEST(AttachedPrinter, ModelIsTheIdsModelField) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {"MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;", "VP-1000"},
        {"MANUFACTURER:X; MDL: LP 7 ;", "LP 7"},
        {"mdl:lower", "lower"},
        {"MFG:X;MODELNAME:no;", ""},
        {"", ""},
    };
    for (const auto& [id, model] : rows) EXPECT_EQ(model_of(id), model) << id;
}

}  // namespace
}  // namespace fwup
