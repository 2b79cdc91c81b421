// Runs the built fwupgrade-cli against virtual machine files, as a script would.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kDeviceId = "MFG:Virtual;CMD:PJL;MODEL:VP-1000;CLS:PRINTER;";
const std::string kFwinfo = "[Download]\nModel=VP-1000\n[VP-1000]\nFW_File=fw.bin\nFile_Ver=106\nESC=0\nLPT=1\nDemo=0\n";
const std::string kConfirm =
    "Message: If upgrade to new firmware code, all configuration values are reset by default. "
    "Are you sure you want to upgrade?\n";
const std::string kHeader = "Model Name: VP-1000\nF/W File: fw.bin\nFile Version: 1.06\n";

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string image_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 251) & 0xFF);
    return bytes;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// A folder of its own per test, holding FWINFO.INI and the image like an
// operator's folder.
class CliFolder {
public:
    explicit CliFolder(const std::string& name) : dir_(fs::temp_directory_path() / ("fwup-cli-" + name + "-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        write_file(dir_ / "FWINFO.INI", kFwinfo);
        write_file(dir_ / "fw.bin", image_bytes(30000));
    }
    ~CliFolder() { fs::remove_all(dir_); }
    CliFolder(const CliFolder&) = delete;
    CliFolder& operator=(const CliFolder&) = delete;

    const fs::path& dir() const { return dir_; }

    Result run(const std::string& args) const {
        const std::string command = "cd '" + dir_.string() + "' && '" FWUPGRADE_CLI "' " + args +
                                    " >stdout.txt 2>stderr.txt </dev/null";
        Result result;
        const int raw = std::system(command.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = slurp(dir_ / "stdout.txt");
        result.err = slurp(dir_ / "stderr.txt");
        return result;
    }

private:
    fs::path dir_;
};

std::string machine(const std::string& machine_keys, const std::string& printer_keys) {
    return "[Machine]\nClock=virtual\n" + machine_keys + "[Printer]\nDeviceID=" + kDeviceId + "\n" + printer_keys;
}

TEST(CliBlackBox, UpgradesAVirtualUsbPrinter) {
    CliFolder f("usb");
    write_file(f.dir() / "vm" / "usb.ini",
               machine("Platform=2\nMajor=5\n", "Port=USB\nVersion=100\nReceivedImage=got.bin\nTranscript=t.txt\n"));
    const Result r = f.run("--virtual-printer vm/usb.ini --yes upgrade");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kHeader + "F/W Version: 1.00\nStatus: Ready to upgrade...\n" + kConfirm +
                         "Answer: Yes\nStatus: Downloading...Do not turn off your printer.!\n"
                         "Status: Writing complete....Do not turn off until printer is initialized!\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(f.dir() / "vm" / "t.txt"), "600 A5 00 04 50 E0 82 06\n1600 A5 00 04 50 E0 82 05\n");
    EXPECT_TRUE(slurp(f.dir() / "vm" / "got.bin") == image_bytes(30000));
}

TEST(CliBlackBox, UpgradesAVirtualLptPrinter) {
    CliFolder f("lpt");
    write_file(f.dir() / "lpt.ini", machine("Platform=1\nMajor=4\nMinor=10\n",
                                            "Port=LPT1\nVersion=099\nReceivedImage=got.bin\nTranscript=t.txt\n"));
    const Result r = f.run("--virtual-printer lpt.ini --yes upgrade");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kHeader + "F/W Version: 0.99\nStatus: Ready to upgrade...\n" + kConfirm +
                         "Answer: Yes\nStatus: Downloading...Do not turn off your printer.!\n"
                         "Status: Writing complete....Do not turn off until printer is initialized!\n");
    EXPECT_EQ(slurp(f.dir() / "t.txt"), "500 A5 00 04 50 E0 82 06\n2500 A5 00 04 50 E0 82 05\n");
    EXPECT_TRUE(slurp(f.dir() / "got.bin") == image_bytes(30000));
}

TEST(CliBlackBox, ExitStatusAndLastLineForEachEnding) {
    struct Row {
        std::string name;
        std::string machine_file;  // written as vm.ini
        std::string args;
        int status;
        std::string last_line;
    };
    const std::vector<Row> rows{
        {"verify ready", machine("", "Version=100\n"), "verify", 0, "Status: Ready to upgrade..."},
        {"verify up to date usb", machine("", "Version=106\n"), "verify", 0, "Status: No Upgrade Required...!"},
        {"verify up to date lpt", machine("", "Port=LPT1\nVersion=106\n"), "verify", 0,
         "Status: Upgrade not necessary...!"},
        {"upgrade up to date", machine("", "Version=106\n"), "--yes upgrade", 0, "Status: No Upgrade Required...!"},
        {"verify nothing attached", "[Machine]\nClock=virtual\n", "verify", 1, "Status: Device not responding..."},
        {"verify wrong model", "[Machine]\nClock=virtual\n[Printer]\nPort=LPT1\nDeviceID=MODEL:Other;\n", "verify", 1,
         "Status: Model not matched...!"},
        {"upgrade busy", machine("", "DownloadStatus=1\n"), "--yes upgrade", 1, "Status: Printer is busy...!"},
        {"upgrade data lost", machine("", "FailWriteAfter=100\n"), "--yes upgrade", 1,
         "Status: Writing data error...!"},
        {"upgrade answered no without a terminal", machine("", ""), "upgrade", 1, "Answer: No"},
        {"no library", machine("Library=missing\n", ""), "verify", 1, "Message: Can't find 'veltport.dll' file"},
        {"incomplete library", machine("Library=incomplete\n", ""), "--yes upgrade", 1,
         "Message: Function inport failed from'veltport.dll' file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("ending");
        write_file(f.dir() / "vm.ini", row.machine_file);
        const Result r = f.run("--virtual-printer vm.ini " + row.args);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        ASSERT_GE(r.out.size(), row.last_line.size() + 1);
        EXPECT_EQ(r.out.substr(r.out.size() - row.last_line.size() - 1), row.last_line + "\n") << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(CliBlackBox, UsageErrorsAndRefusedMachineFilesExitWith2) {
    struct Row {
        std::string name;
        std::string args;
        std::string err_start;
    };
    const std::vector<Row> rows{
        {"no command", "--virtual-printer vm.ini", "fwupgrade-cli: no command: say verify or upgrade\nusage:"},
        {"unknown command", "--virtual-printer vm.ini flash", "fwupgrade-cli: unknown command flash\n"},
        {"unknown option", "--fast verify", "fwupgrade-cli: unknown option --fast\n"},
        {"missing machine file", "--virtual-printer none.ini verify",
         "fwupgrade-cli: none.ini: cannot read the virtual machine file\n"},
        {"invalid value", "--virtual-printer bad.ini verify",
         "fwupgrade-cli: bad.ini: [Printer] Esc=\"2\" is invalid: expected 0 or 1\n"},
        {"missing settings file", "--config nowhere.ini --virtual-printer vm.ini verify",
         "fwupgrade-cli: cannot read the settings file nowhere.ini\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("usage");
        write_file(f.dir() / "vm.ini", machine("", ""));
        write_file(f.dir() / "bad.ini", machine("", "Esc=2\n"));
        const Result r = f.run(row.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(row.err_start, 0), 0u) << r.err;
    }
}

// Without a virtual machine the real adapters run: this system answers as
// Windows 2000, so the USB port library is looked for in the current folder,
// then beside the program's installation, which a build folder does not have.
TEST(CliBlackBox, RealSystemLooksForTheLibraryInTheCurrentFolder) {
    CliFolder f("real");
    const Result r = f.run("verify");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "Message: Can't find 'libveltport.so' file\n");
}

TEST(CliBlackBox, ConfigElsewhereNamesItsImageRelativeToTheCurrentFolder) {
    CliFolder f("config");
    write_file(f.dir() / "settings" / "demo.ini", "[Download]\nModel=VP-1000\n[VP-1000]\nFW_File=fw.bin\nDemo=1\n");
    write_file(f.dir() / "vm.ini", machine("", "ReceivedImage=got.bin\n"));
    const Result r = f.run("--config settings/demo.ini --virtual-printer vm.ini upgrade");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Model Name: VP-1000\nF/W File: fw.bin\nFile Version: 1.00\nF/W Version: 1.00\n"
                     "Status: Ready to download demo image...\n"
                     "Status: Downloading...Do not turn off your printer.!\n"
                     "Status: Writing complete....Do not turn off until printer is initialized!\n");
    EXPECT_TRUE(slurp(f.dir() / "got.bin") == image_bytes(30000));

    fs::remove(f.dir() / "fw.bin");
    const Result missing = f.run("--virtual-printer vm.ini --yes upgrade");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("Status: File open error...(fw.bin)\n"), std::string::npos) << missing.out;
}

TEST(CliBlackBox, BundledExampleUpgradesItsVirtualPrinter) {
    CliFolder f("example");
    for (const auto& entry : fs::directory_iterator(FWUP_EXAMPLES_DIR)) {
        fs::copy_file(entry.path(), f.dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
    }
    for (const char* vm : {"usb-win2000.ini", "lpt-win98.ini"}) {
        SCOPED_TRACE(vm);
        const Result r = f.run(std::string("--virtual-printer ") + vm + " --yes upgrade");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
    }
    EXPECT_TRUE(slurp(f.dir() / "received-usb.bin") == slurp(f.dir() / "firmware-1.06.bin"));
    EXPECT_TRUE(slurp(f.dir() / "received-lpt.bin") == slurp(f.dir() / "firmware-1.06.bin"));
    struct Row {
        const char* vm;
        int status;
    };
    for (const Row& row : std::vector<Row>{{"up-to-date.ini", 0},
                                            {"busy-printer.ini", 1},
                                            {"unplugged-during-upgrade.ini", 1},
                                            {"no-library.ini", 1},
                                            {"wrong-model-lpt.ini", 1},
                                            {"nothing-attached.ini", 1}}) {
        SCOPED_TRACE(row.vm);
        EXPECT_EQ(f.run(std::string("--virtual-printer ") + row.vm + " --yes upgrade").status, row.status);
    }
}

}  // namespace
