// The built fwupgrade-cli against a network printer on loopback: a virtual
// printer served on a real TCP port, its ID answered by a real snmpd. The
// program runs on a virtual machine for its clock (the waits between the
// steps take no time); the network printer is outside it, reached through the
// real carrier as from a real machine.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/net/net_printer_server.h"
#include "sim/printer/virtual_printer.h"
#include "system/sockets/tcp_stream.h"
#include "tests/support/snmp_agent.h"

namespace fwup {
namespace {

namespace fs = std::filesystem;

const std::string kDeviceId = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";
constexpr char kPpmDeviceId[] = "1.3.6.1.4.1.2699.1.2.1.2.1.1.3.1";
constexpr char kHrDeviceDescr[] = "1.3.6.1.2.1.25.3.2.1.3.1";
constexpr std::size_t kImageSize = 70000;  // nine blocks, the last one short

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string last_status(const std::string& out) {
    const std::size_t at = out.rfind("Status: ");
    return at == std::string::npos ? std::string() : out.substr(at + 8, out.find('\n', at) - at - 8);
}

// The folder a technician runs the program in: settings, image, and the
// machine it runs on.
class Folder {
public:
    Folder() : dir_(fs::temp_directory_path() / ("fwup-net-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        image_.resize(kImageSize);
        for (std::size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        std::ofstream(dir_ / "fw.bin", std::ios::binary) << image_;
        std::ofstream(dir_ / "machine.ini") << "[Machine]\nPlatform=2\nMajor=5\nMinor=1\nClock=virtual\n";
    }
    ~Folder() { fs::remove_all(dir_); }

    void settings(const std::string& model, int demo) const {
        std::ofstream(dir_ / "FWINFO.INI") << "[Download]\nModel=" << model << "\n[" << model
                                           << "]\nFW_File=fw.bin\nFile_Ver=106\nESC=0\nLPT=1\nDemo=" << demo << "\n";
    }
    int run(const std::string& args, std::string& out) const {
        const std::string command = "cd '" + dir_.string() + "' && env -u VELTPORT_DEVICE XDG_STATE_HOME='" +
                                    (dir_ / "state").string() + "' '" FWUPGRADE_CLI "' --virtual-printer machine.ini " + args +
                                    " >stdout.txt 2>&1 </dev/null";
        const int raw = std::system(command.c_str());
        out = slurp(dir_ / "stdout.txt");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    const std::string& image() const { return image_; }
    std::string history() const { return slurp(dir_ / "state" / "fwupgrade" / "history.jsonl"); }

private:
    fs::path dir_;
    std::string image_;
};

// A port on loopback where nothing listens: taken from the system, then let go.
std::uint16_t closed_port() {
    const std::unique_ptr<sys::TcpListener> listener = sys::TcpListener::on_loopback();
    return listener ? listener->port() : 1;
}

// Every case needs a real snmpd: skipped without one, unless CI requires it.
class CliNetwork : public testing::Test {
protected:
    void SetUp() override {
        if (const std::optional<std::string> why = test::SnmpAgent::unavailable()) {
            if (test::SnmpAgent::required()) FAIL() << *why;
            GTEST_SKIP() << *why;
        }
    }
    // An agent answering `oid` with `value`; the test fails when none starts.
    static std::unique_ptr<test::SnmpAgent> agent(const char* oid, const std::string& value) {
        std::string error;
        std::unique_ptr<test::SnmpAgent> started = test::SnmpAgent::start({{oid, value}}, error);
        EXPECT_TRUE(started) << error;
        return started;
    }
};

TEST_F(CliNetwork, EachEndingThroughARealSocketAndARealSnmpAgent) {
    // One agent answers the printer port MIB; one only the host resources
    // MIB, with an ID broken over lines as some printers give it.
    const auto ppm = agent(kPpmDeviceId, kDeviceId);
    const auto descr = agent(kHrDeviceDescr, "MFG:Virtual\r\nCMD:PJL\r\nMODEL:VP-1000\r\nCLS:PRINTER\r\n");
    ASSERT_TRUE(ppm && descr);

    enum class Reach { Served, NothingListens };
    struct Row {
        std::string name;
        std::string command;
        sim::PrinterConfig printer = {};
        sim::NetFaults faults = {};
        const test::SnmpAgent* agent = nullptr;  // null: no agent at that port
        std::string snmp_options = {};
        std::string model = "VP-1000";
        int demo = 0;
        Reach reach = Reach::Served;
        std::string status;
        int exit_status = 0;
        bool image_whole = false;  // the printer received the image, byte for byte
    };
    sim::PrinterConfig busy;
    busy.download_status = 1;
    sim::PrinterConfig current;
    current.version = "106";
    sim::PrinterConfig gives_up;
    gives_up.fail_write_after = 20000;
    const std::vector<Row> rows{
        {"ready", "upgrade", {}, {}, ppm.get(), "", "VP-1000", 0, Reach::Served,
         "Writing complete....Do not turn off until printer is initialized!", 0, true},
        {"replies in pieces", "upgrade", {}, {true}, ppm.get(), "", "VP-1000", 0, Reach::Served,
         "Writing complete....Do not turn off until printer is initialized!", 0, true},
        {"ID from hrDeviceDescr", "upgrade", {}, {}, descr.get(), "", "VP-1000", 0, Reach::Served,
         "Writing complete....Do not turn off until printer is initialized!", 0, true},
        {"demo", "upgrade", {}, {}, ppm.get(), "", "VP-1000", 1, Reach::Served,
         "Writing complete....Do not turn off until printer is initialized!", 0, true},
        {"up to date", "upgrade", current, {}, ppm.get(), "", "VP-1000", 0, Reach::Served,
         "No Upgrade Required...!", 0},
        {"wrong model", "verify", {}, {}, ppm.get(), "", "VP-2000", 0, Reach::Served, "Model not matched...!", 1},
        {"busy", "upgrade", busy, {}, ppm.get(), "", "VP-1000", 0, Reach::Served, "Printer is busy...!", 1},
        {"closes part-way", "upgrade", gives_up, {}, ppm.get(), "", "VP-1000", 0, Reach::Served,
         "Writing data error...!", 1},
        {"no SNMP agent", "verify", {}, {}, nullptr, "", "VP-1000", 0, Reach::Served, "Device not responding...", 1},
        {"wrong community", "verify", {}, {}, ppm.get(), "--snmp-community private", "VP-1000", 0, Reach::Served,
         "Device not responding...", 1},
        {"port refuses", "verify", {}, {}, ppm.get(), "", "VP-1000", 0, Reach::NothingListens,
         "Failed to connect network printer", 1},
    };
    Folder folder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::VirtualPrinter printer(row.printer);
        std::string received;
        printer.set_image_sink([&received](const std::uint8_t* data, std::size_t length) {
            received.append(reinterpret_cast<const char*>(data), length);
        });
        std::unique_ptr<sim::NetPrinterServer> server;
        std::uint16_t port = closed_port();
        if (row.reach == Reach::Served) {
            server = sim::NetPrinterServer::start(printer, row.faults);
            ASSERT_TRUE(server);
            port = server->port();
        }
        const std::uint16_t snmp_port = row.agent != nullptr ? row.agent->port() : closed_port();
        folder.settings(row.model, row.demo);
        std::string out;
        const int status = folder.run("--device socket://127.0.0.1:" + std::to_string(port) + " --snmp-port " +
                                          std::to_string(snmp_port) + " " + row.snmp_options + " --yes " +
                                          row.command,
                                      out);
        server.reset();  // the printer is inspected once it serves no more
        EXPECT_EQ(last_status(out), row.status) << out;
        EXPECT_EQ(status, row.exit_status) << out;
        EXPECT_NE(out.find("Printer: socket://127.0.0.1:" + std::to_string(port)), std::string::npos) << out;
        if (row.image_whole) {
            EXPECT_TRUE(received == folder.image()) << received.size() << " bytes received";
        } else {
            // What arrived is the image's start, and less than all of it:
            // nothing the printer did not take is reported as written.
            EXPECT_LT(received.size(), folder.image().size());
            EXPECT_TRUE(folder.image().compare(0, received.size(), received) == 0);
        }
    }
    // A run that sent an image names the printer by its address in the history.
    const std::string history = folder.history();
    EXPECT_NE(history.find("\"carrier\":\"NET\""), std::string::npos) << history;
    EXPECT_NE(history.find("\"device\":\"socket://127.0.0.1:"), std::string::npos) << history;
}

// Listing asks each host's agent for the ID and tries its raw port, and
// sends the printer nothing.
TEST_F(CliNetwork, ListAsksEachHostAndSendsNothing) {
    const auto ppm = agent(kPpmDeviceId, kDeviceId);
    ASSERT_TRUE(ppm);
    sim::VirtualPrinter printer;
    const auto server = sim::NetPrinterServer::start(printer);
    ASSERT_TRUE(server);
    const std::string served = "127.0.0.1:" + std::to_string(server->port());
    const std::string refusing = "127.0.0.1:" + std::to_string(closed_port());

    Folder folder;
    std::string out;
    const int status = folder.run("--snmp-port " + std::to_string(ppm->port()) + " list --network " + served +
                                      " socket://" + refusing + " 127.0.0.1:0",
                                  out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "NET socket://" + served + ": VP-1000, ID " + kDeviceId + "\n" +
                       "NET socket://" + refusing + ": the port refuses connections\n" +
                       "NET 127.0.0.1:0: \"socket://127.0.0.1:0\": the port must be a number from 1 to 65535\n");
    const int nobody = folder.run("--snmp-port " + std::to_string(ppm->port()) + " list --network " + refusing, out);
    EXPECT_EQ(nobody, 1) << out;
    const auto held = server->lock();
    EXPECT_TRUE(printer.commands().empty());
    EXPECT_EQ(printer.skipped_bytes(), 0u);
}

}  // namespace
}  // namespace fwup
