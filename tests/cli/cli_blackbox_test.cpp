// Runs the built fwupgrade-cli against virtual machine files, as a script would.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// Without the library's stream operators (it is built without them), test
// failures print a document through this.
namespace nlohmann {
inline void PrintTo(const json& value, std::ostream* out) { *out << value.dump(); }
}  // namespace nlohmann

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

// sha256sum's digest of the file's first `size` bytes (of all when none given).
std::string sha256sum(const fs::path& file, std::optional<std::size_t> size = std::nullopt) {
    const std::string command = (size ? "head -c " + std::to_string(*size) + " '" + file.string() + "' | sha256sum"
                                      : "sha256sum '" + file.string() + "'");
    std::string line(64, '\0');
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
    if (!pipe) return "popen failed";
    return std::fread(line.data(), 1, line.size(), pipe.get()) == line.size() ? line : "sha256sum failed";
}

// The output without the lines that end a virtual machine's run, one for
// each printer that received image bytes.
std::string without_virtual_printer_lines(std::string out) {
    for (std::size_t at; (at = out.rfind("\nVirtual printer [", out.size() - 1)) != std::string::npos &&
                         out.find('\n', at + 1) == out.size() - 1;) {
        out.erase(at + 1);
    }
    return out;
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

    // The history goes to a folder of the test's own unless `environment`
    // (VARIABLE=value ...) says otherwise; a chosen printer is never inherited.
    Result run(const std::string& args, const std::string& environment = "") const {
        const std::string command = "cd '" + dir_.string() + "' && env -u VELTPORT_DEVICE XDG_STATE_HOME='" +
                                    (dir_ / "state").string() + "' " + environment + " '" FWUPGRADE_CLI "' " + args +
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

using Json = nlohmann::json;

// The documents of --json runs, kept to be checked against the committed
// schema together at the end of the test (one validator start for all).
class JsonDocuments {
public:
    explicit JsonDocuments(std::string schema = FWUP_JSON_SCHEMA)
        : schema_(std::move(schema)), dir_(fs::temp_directory_path() / ("fwup-cli-documents-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~JsonDocuments() {
        if (!files_.empty()) {
            const std::string command = "'" FWUP_PYTHON3 "' '" FWUP_JSON_VALIDATOR "' '" + schema_ + "'" + files_ +
                                        " >'" + (dir_ / "problems.txt").string() + "' 2>&1";
            const int raw = std::system(command.c_str());
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0)
                << "against " << schema_ << ":\n" << slurp(dir_ / "problems.txt");
        }
        fs::remove_all(dir_);
    }
    JsonDocuments(const JsonDocuments&) = delete;
    JsonDocuments& operator=(const JsonDocuments&) = delete;

    // Keeps the run's standard output for the schema and parses it: it must
    // be one JSON document and nothing else.
    Json take(const Result& r) {
        const fs::path file = dir_ / ("doc" + std::to_string(++count_) + ".json");
        write_file(file, r.out);
        files_ += " '" + file.string() + "'";
        Json doc = Json::parse(r.out, nullptr, false);
        EXPECT_FALSE(doc.is_discarded()) << "not one JSON document:\n" << r.out;
        return doc;
    }

private:
    std::string schema_;
    fs::path dir_;
    std::string files_;
    int count_ = 0;
};

// The "Status: " lines of the text output, in order.
std::vector<std::string> status_lines(const std::string& out) {
    std::vector<std::string> statuses;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        if (line.rfind("Status: ", 0) == 0) statuses.push_back(line.substr(8));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return statuses;
}

TEST(CliBlackBox, UpgradesAVirtualUsbPrinter) {
    CliFolder f("usb");
    write_file(f.dir() / "vm" / "usb.ini",
               machine("Platform=2\nMajor=5\n", "Port=USB\nVersion=100\nReceivedImage=got.bin\nTranscript=t.txt\n"));
    const Result r = f.run("--virtual-printer vm/usb.ini --yes upgrade");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kHeader + "F/W Version: 1.00\nStatus: Ready to upgrade...\n" + kConfirm +
                         "Answer: Yes\nStatus: Downloading...Do not turn off your printer.!\n"
                         "Status: Writing complete....Do not turn off until printer is initialized!\n"
                         "Virtual printer [Printer] on USB: received 30000 image bytes, SHA-256 " +
                         sha256sum(f.dir() / "fw.bin") + "\n");
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
                         "Status: Writing complete....Do not turn off until printer is initialized!\n"
                         "Virtual printer [Printer] on LPT1: received 30000 image bytes, SHA-256 " +
                         sha256sum(f.dir() / "fw.bin") + "\n");
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
    JsonDocuments documents;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("ending");
        write_file(f.dir() / "vm.ini", row.machine_file);
        const Result r = f.run("--virtual-printer vm.ini " + row.args);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        const std::string dialog = without_virtual_printer_lines(r.out);
        ASSERT_GE(dialog.size(), row.last_line.size() + 1);
        EXPECT_EQ(dialog.substr(dialog.size() - row.last_line.size() - 1), row.last_line + "\n") << r.out;
        EXPECT_EQ(r.err, "");

        // The same run with --json: the lines move to stderr, the document
        // tells the same story.
        const Result j = f.run("--json --virtual-printer vm.ini " + row.args);
        EXPECT_EQ(j.status, row.status);
        EXPECT_EQ(j.err, r.out);
        const Json doc = documents.take(j);
        if (doc.is_discarded()) continue;
        EXPECT_EQ(doc.value("exit_status", -1), row.status);
        EXPECT_EQ(doc.value("statuses", std::vector<std::string>{}), status_lines(r.out));
        const std::vector<std::string> statuses = status_lines(r.out);
        EXPECT_EQ(doc.value("status", std::string("?")), statuses.empty() ? "" : statuses.back());
        EXPECT_EQ(doc.value("command", std::string()), row.args.find("upgrade") != std::string::npos ? "upgrade" : "verify");
        EXPECT_TRUE(doc["error"].is_null());
        EXPECT_TRUE(doc["check"].is_null());
        if (row.last_line.rfind("Message: ", 0) == 0 || row.last_line == "Answer: No") {
            ASSERT_FALSE(doc["messages"].empty());
            const Json& box = doc["messages"].back();
            EXPECT_EQ(box.value("answer", std::string()), row.last_line == "Answer: No" ? "No" : "OK");
            if (row.last_line != "Answer: No") {
                EXPECT_EQ("Message: " + box.value("text", std::string()), row.last_line);
            }
        }
    }
}

TEST(CliBlackBox, JsonReportsSettingsCarrierPrinterAndBytes) {
    struct Row {
        std::string name;
        std::string machine_file;
        int status;
        std::string carrier;
        std::string identification;  // as the document gives it
        int version;
        std::uint64_t bytes_sent;
    };
    const std::vector<Row> rows{
        {"usb upgrade", machine("Platform=2\nMajor=5\n", "Version=100\n"), 0, "USB", kDeviceId, 100, 30000},
        {"lpt upgrade", machine("Platform=1\nMajor=4\nMinor=10\n", "Port=LPT1\nVersion=099\n"), 0, "LPT", kDeviceId,
         99, 30000},
        {"data lost", machine("", "FailWriteAfter=8192\n"), 1, "USB", kDeviceId, 100, 8192},
        // Identification bytes that are not UTF-8 are replaced, never a broken document.
        {"identification not UTF-8", "[Machine]\nClock=virtual\n[Printer]\nDeviceID=MODEL:VP-1000;NAME:\xE9\xFF;\n", 0,
         "USB", "MODEL:VP-1000;NAME:\xEF\xBF\xBD\xEF\xBF\xBD;", 100, 30000},
    };
    JsonDocuments documents;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("json");
        write_file(f.dir() / "vm.ini", row.machine_file);
        const Result r = f.run("--virtual-printer vm.ini --yes --json upgrade");
        EXPECT_EQ(r.status, row.status) << r.err;
        const Json doc = documents.take(r);
        if (doc.is_discarded()) continue;
        EXPECT_EQ(doc["settings"], Json({{"model", "VP-1000"}, {"image_file", "fw.bin"}, {"file_version", 106},
                                         {"esc", 0}, {"lpt", 1}, {"demo", 0}}));
        EXPECT_EQ(doc["carrier"], row.carrier);
        EXPECT_EQ(doc["printer"]["identification"], row.identification);
        EXPECT_EQ(doc["printer"]["firmware_version"], row.version);
        EXPECT_EQ(doc["bytes_sent"], row.bytes_sent);
        EXPECT_EQ(doc["image_size"], 30000);
        ASSERT_EQ(doc["messages"].size(), 1u);
        EXPECT_EQ(doc["messages"][0]["caption"], "Confirm upgrade");
        EXPECT_EQ(doc["messages"][0]["icon"], "question");
        EXPECT_EQ(doc["messages"][0]["answer"], "Yes");
        // What the printer received, vouched for without a ReceivedImage file.
        EXPECT_EQ(doc["virtual_printers"],
                  Json::array({{{"section", "Printer"},
                                {"port", row.carrier == "USB" ? "USB" : "LPT1"},
                                {"image_bytes", row.bytes_sent},
                                {"image_sha256", sha256sum(f.dir() / "fw.bin", row.bytes_sent)}}}));
    }
}

// After the upgrade the printer restarts and is asked again; only its
// reporting the image's version counts as upgraded.
TEST(CliBlackBox, CheckAfterVerifiesTheNewVersion) {
    struct Row {
        std::string name;
        std::string machine_file;
        int status;
        std::string check_line;
        std::string result;
        Json version;
    };
    const std::string win98 = "Platform=1\nMajor=4\nMinor=10\n";
    const std::vector<Row> rows{
        {"new version over USB", machine("", "VersionAfterUpgrade=106\n"), 0,
         "Check: the printer reports 1.06, the image's version", "matches", 106},
        {"new version over LPT", machine(win98, "Port=LPT1\nVersionAfterUpgrade=106\n"), 0,
         "Check: the printer reports 1.06, the image's version", "matches", 106},
        {"old version kept", machine("", "VersionAfterUpgrade=keep\n"), 3,
         "Check: the printer reports 1.00, not the image's 1.06", "other version", 100},
        {"a newer version than the image's", machine("", "VersionAfterUpgrade=107\n"), 3,
         "Check: the printer reports 1.07, not the image's 1.06", "other version", 107},
        {"no answer after the upgrade", machine("", "VersionAfterUpgrade=none\n"), 4,
         "Check: the printer did not report its version after the upgrade", "no answer", nullptr},
        {"no answer over LPT", machine(win98, "Port=LPT1\nVersionAfterUpgrade=none\n"), 4,
         "Check: the printer did not report its version after the upgrade", "no answer", nullptr},
        // A printer that never restarts takes the query as image data and does not answer.
        {"printer still taking data", machine("", ""), 4,
         "Check: the printer did not report its version after the upgrade", "no answer", nullptr},
    };
    JsonDocuments documents;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("check");
        write_file(f.dir() / "vm.ini", row.machine_file + "Transcript=t.txt\n");
        const Result r = f.run("--virtual-printer vm.ini --yes --check-after upgrade");
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        const std::string dialog = without_virtual_printer_lines(r.out);
        ASSERT_GE(dialog.size(), row.check_line.size() + 1);
        EXPECT_EQ(dialog.substr(dialog.size() - row.check_line.size() - 1), row.check_line + "\n") << r.out;
        // The whole image went before the check was made.
        EXPECT_NE(r.out.find("Status: Writing complete....Do not turn off until printer is initialized!\n"),
                  std::string::npos);

        const Result j = f.run("--virtual-printer vm.ini --yes --check-after --json upgrade");
        EXPECT_EQ(j.status, row.status);
        const Json doc = documents.take(j);
        if (doc.is_discarded()) continue;
        EXPECT_EQ(doc["check_after"], true);
        EXPECT_EQ(doc["check"]["result"], row.result);
        EXPECT_EQ(doc["check"]["firmware_version"], row.version);
        EXPECT_EQ(doc["printer"]["firmware_version"], 100) << "the version before the upgrade";
        EXPECT_EQ(doc["exit_status"], row.status);
    }

    // Nothing to check: the verify found the printer up to date, or a demo image went.
    CliFolder f("nothing-to-check");
    write_file(f.dir() / "vm.ini", machine("", "Version=106\n"));
    EXPECT_EQ(f.run("--virtual-printer vm.ini --yes --check-after upgrade").status, 0);
    write_file(f.dir() / "FWINFO.INI", "[Download]\nModel=VP-1000\n[VP-1000]\nFW_File=fw.bin\nDemo=1\n");
    write_file(f.dir() / "vm.ini", machine("", "VersionAfterUpgrade=none\n"));
    const Result demo = f.run("--virtual-printer vm.ini --check-after upgrade");
    EXPECT_EQ(demo.status, 0);
    EXPECT_EQ(demo.out.find("Check:"), std::string::npos);
}

TEST(CliBlackBox, UsageErrorsAndRefusedMachineFilesExitWith2) {
    struct Row {
        std::string name;
        std::string args;
        std::string err_start;
    };
    const std::vector<Row> rows{
        {"no command", "--virtual-printer vm.ini", "fwupgrade-cli: no command: say verify, upgrade, list or history\nusage:"},
        {"unknown command", "--virtual-printer vm.ini flash", "fwupgrade-cli: unknown command flash\n"},
        {"unknown option", "--fast verify", "fwupgrade-cli: unknown option --fast\n"},
        {"missing machine file", "--virtual-printer none.ini verify",
         "fwupgrade-cli: none.ini: cannot read the virtual machine file\n"},
        {"invalid value", "--virtual-printer bad.ini verify",
         "fwupgrade-cli: bad.ini: [Printer] Esc=\"2\" is invalid: expected 0 or 1\n"},
        {"missing settings file", "--config nowhere.ini --virtual-printer vm.ini verify",
         "fwupgrade-cli: cannot read the settings file nowhere.ini\n"},
    };
    JsonDocuments documents;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("usage");
        write_file(f.dir() / "vm.ini", machine("", ""));
        write_file(f.dir() / "bad.ini", machine("", "Esc=2\n"));
        const Result r = f.run(row.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(row.err_start, 0), 0u) << r.err;

        // Refused with --json: still one document, saying why.
        const Result j = f.run(row.args + " --json");
        EXPECT_EQ(j.status, 2);
        EXPECT_EQ(j.err, r.err);
        const Json doc = documents.take(j);
        if (doc.is_discarded()) continue;
        EXPECT_EQ(doc["exit_status"], 2);
        ASSERT_TRUE(doc["error"].is_string());
        EXPECT_EQ(row.err_start.rfind("fwupgrade-cli: " + doc["error"].get<std::string>(), 0), 0u) << doc["error"].dump();
        EXPECT_TRUE(doc["statuses"].empty());
        EXPECT_TRUE(doc["virtual_printers"].is_null());
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

// With the library in the current folder it is loaded and asked, and prints
// its own texts on standard output (with --json: standard error, with the
// lines). Whatever it prints, no text of its runs into the CLI's next line:
// "Failed to open (...) = N", its text when no USB printer is found, has no
// line end of its own.
TEST(CliBlackBox, RealLibrarysTextsNeverRunIntoTheNextLine) {
    CliFolder f("library-texts");
    fs::create_symlink(FWUP_VELTPORT_LIBRARY, f.dir() / "libveltport.so");
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "--json" : "lines");
        const Result r = f.run(json ? "--json verify" : "verify");
        const std::string& lines = json ? r.err : r.out;
        EXPECT_EQ(lines.rfind(kHeader, 0), 0u) << lines;
        std::istringstream in(lines);
        int statuses = 0;
        for (std::string line; std::getline(in, line);) {
            const std::size_t status = line.find("Status: ");
            if (status == std::string::npos) continue;
            ++statuses;
            EXPECT_EQ(status, 0u) << line;
        }
        EXPECT_GE(statuses, 1) << lines;
        EXPECT_EQ(lines.back(), '\n');
    }
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
                     "Status: Writing complete....Do not turn off until printer is initialized!\n"
                     "Virtual printer [Printer] on USB: received 30000 image bytes, SHA-256 " +
                     sha256sum(f.dir() / "fw.bin") + "\n");
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
                                            {"new-firmware-after-upgrade.ini", 0},
                                            {"busy-printer.ini", 1},
                                            {"unplugged-during-upgrade.ini", 1},
                                            {"no-library.ini", 1},
                                            {"wrong-model-lpt.ini", 1},
                                            {"nothing-attached.ini", 1}}) {
        SCOPED_TRACE(row.vm);
        EXPECT_EQ(f.run(std::string("--virtual-printer ") + row.vm + " --yes upgrade").status, row.status);
    }
}

// Two USB printers and one on LPT1: the machine of the several-printer tables.
// Each keeps a transcript, so a printer that was sent nothing shows it.
std::string three_printers(const std::string& first_keys = "", const std::string& second_keys = "") {
    return "[Machine]\nClock=virtual\n"
           "[Printer]\nDeviceID=" + kDeviceId + "\nTranscript=t1.txt\n" + first_keys +
           "[Printer2]\nDeviceID=MFG:Other;MDL:VP-1000;\nVendorID=0x0550\nTranscript=t2.txt\n" + second_keys +
           "[Printer3]\nPort=LPT1\nDeviceID=" + kDeviceId + "\nTranscript=t3.txt\n";
}

TEST(CliBlackBox, ListShowsEveryPrinterAndSendsNothing) {
    struct Row {
        std::string name;
        std::string machine_file;
        int status;
        std::string out;
    };
    const std::vector<Row> rows{
        {"two USB and one LPT printer", three_printers(), 0,
         "USB [Printer]: VP-1000, vendor 0x043D, ID " + kDeviceId + "\n"
         "USB [Printer2]: VP-1000, vendor 0x0550, ID MFG:Other;MDL:VP-1000;\n"
         "LPT1 [Printer3]: VP-1000, ID " + kDeviceId + "\n"
         "LPT2: no printer answers\nLPT3: no printer answers\n"},
        {"a network printer among them", three_printers("", "Port=NET\n"), 0,
         "USB [Printer]: VP-1000, vendor 0x043D, ID " + kDeviceId + "\n"
         "NET [Printer2]: VP-1000, ID MFG:Other;MDL:VP-1000;\n"
         "LPT1 [Printer3]: VP-1000, ID " + kDeviceId + "\n"
         "LPT2: no printer answers\nLPT3: no printer answers\n"},
        {"a USB printer another program holds", machine("", "Openable=0\n"), 0,
         "USB [Printer]: in use by another program\nLPT1: no printer answers\nLPT2: no printer answers\n"
         "LPT3: no printer answers\n"},
        {"nothing attached", "[Machine]\nClock=virtual\n", 1,
         "LPT1: no printer answers\nLPT2: no printer answers\nLPT3: no printer answers\n"},
        {"parallel ports that cannot be opened", "[Machine]\nClock=virtual\nLptOpenFailsFrom=1\n", 1,
         "LPT1: cannot be opened\nLPT2: cannot be opened\nLPT3: cannot be opened\n"},
    };
    JsonDocuments documents(FWUP_JSON_LIST_SCHEMA);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("list");
        write_file(f.dir() / "vm.ini", row.machine_file);
        const Result r = f.run("--virtual-printer vm.ini list");
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, "");
        for (const char* transcript : {"t1.txt", "t2.txt", "t3.txt"}) {
            EXPECT_EQ(slurp(f.dir() / transcript), "") << transcript;
        }

        const Result j = f.run("--virtual-printer vm.ini --json list");
        EXPECT_EQ(j.status, row.status);
        EXPECT_EQ(j.err, r.out);
        const Json doc = documents.take(j);
        if (doc.is_discarded()) continue;
        EXPECT_EQ(doc["virtual_machine"], "vm.ini");
        EXPECT_EQ(doc["exit_status"], row.status);
        EXPECT_EQ(doc["printers"].size(), static_cast<std::size_t>(std::count(row.out.begin(), row.out.end(), '\n')));
    }
    CliFolder f("list-refused");
    const Result refused = f.run("--virtual-printer none.ini --json list");
    EXPECT_EQ(refused.status, 2);
    const Json doc = documents.take(refused);
    EXPECT_TRUE(doc["error"].is_string());
}

// With several USB printers an upgrade needs --device, and then reaches the
// chosen printer alone; a verify says which printer it used.
TEST(CliBlackBox, SeveralPrintersChooseOneAndRefuseToGuess) {
    struct Row {
        std::string name;
        std::string args;
        int status;
        std::string says;  // a line of stdout, or the start of stderr for status 2
        std::vector<std::uint64_t> image_bytes;  // Printer, Printer2, Printer3
        std::string first_keys = {};
        std::string second_keys = {};
    };
    const std::string refusal =
        "fwupgrade-cli: 2 USB printers are attached ([Printer] (VP-1000), [Printer2] (VP-1000)): say which one "
        "to upgrade with --device; nothing was sent\n";
    const std::vector<Row> rows{
        {"upgrade without --device", "--yes upgrade", 2, refusal, {0, 0, 0}},
        {"upgrade the second", "--device Printer2 --yes upgrade", 0, "Printer: [Printer2] (VP-1000)", {0, 30000, 0}},
        {"upgrade the first, named as listed", "--device '[printer]' --yes upgrade", 0, "Printer: [Printer] (VP-1000)",
         {30000, 0, 0}},
        {"verify without --device", "verify", 0,
         "Printer: [Printer] (VP-1000); the first that opens of 2 USB printers; choose one with --device", {0, 0, 0}},
        {"verify passes over a printer in use", "verify", 0,
         "Printer: [Printer2] (VP-1000); the first that opens of 2 USB printers; choose one with --device", {0, 0, 0},
         "Openable=0\n"},
        {"verify the second", "--device=Printer2 verify", 0, "Printer: [Printer2] (VP-1000)", {0, 0, 0}},
        // The chosen printer cannot be reached: never the parallel port's printer instead.
        {"the chosen printer in use", "--device Printer2 --yes upgrade", 1, "Status: Failed to open LPT port",
         {0, 0, 0}, "", "Openable=0\n"},
        // Through the real carrier to the loopback port the machine serves it on.
        {"upgrade the network printer", "--device Printer2 --yes upgrade", 0, "Printer: [Printer2] (VP-1000)",
         {0, 30000, 0}, "", "Port=NET\n"},
        {"a section that is no printer", "--device Printer9 --yes upgrade", 2,
         "fwupgrade-cli: --device [Printer9] names no printer; the USB printers attached: [Printer] (VP-1000), "
         "[Printer2] (VP-1000)\n",
         {0, 0, 0}},
        {"the parallel port's printer", "--device Printer3 --yes upgrade", 2,
         "fwupgrade-cli: --device [Printer3] names the printer on LPT1; --device chooses a USB printer, the "
         "parallel port is the settings' LPT\n",
         {0, 0, 0}},
        {"a device path on a virtual machine", "--device /dev/usb/lp1 verify", 2,
         "fwupgrade-cli: --device /dev/usb/lp1 names no printer;", {0, 0, 0}},
        {"an address of another kind", "--device ipp://10.0.0.7/ipp/print --yes upgrade", 2,
         "fwupgrade-cli: --device: \"ipp://10.0.0.7/ipp/print\": this program reaches no printer of the kind "
         "\"ipp://\"\n",
         {0, 0, 0}},
        {"a malformed network address", "--device socket://10.0.0.7:printer --yes upgrade", 2,
         "fwupgrade-cli: --device: \"socket://10.0.0.7:printer\": the port must be a number from 1 to 65535\n",
         {0, 0, 0}},
    };
    JsonDocuments documents;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CliFolder f("several");
        write_file(f.dir() / "vm.ini", three_printers(row.first_keys, row.second_keys));
        const Result r = f.run("--virtual-printer vm.ini " + row.args);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        if (row.status == 2) {
            EXPECT_EQ(r.err.rfind(row.says, 0), 0u) << r.err;
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_NE(r.out.find(row.says + "\n"), std::string::npos) << r.out;
        }
        // Nothing reached a printer that was not chosen, nor any before a refusal.
        const std::vector<std::string> transcripts{"t1.txt", "t2.txt", "t3.txt"};
        for (std::size_t i = 0; i < transcripts.size(); ++i) {
            if (row.image_bytes[i] == 0 && (row.status != 0 || row.args.find("upgrade") != std::string::npos)) {
                EXPECT_EQ(slurp(f.dir() / transcripts[i]), "") << transcripts[i];
            }
        }

        const Result j = f.run("--virtual-printer vm.ini --json " + row.args);
        EXPECT_EQ(j.status, row.status);
        const Json doc = documents.take(j);
        if (doc.is_discarded() || row.status == 2) continue;
        ASSERT_EQ(doc["virtual_printers"].size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(doc["virtual_printers"][i]["image_bytes"], row.image_bytes[i]) << i;
        if (row.status == 0) {
            EXPECT_EQ("Printer: " + doc["device"].get<std::string>(), row.says.substr(0, row.says.find(' ', 9)));
        }
    }
}

// Every run that sent a download command leaves one line in the history,
// whatever came of it; the others leave none.
TEST(CliBlackBox, HistoryRecordsEveryDownloadThatWasSent) {
    struct Row {
        std::string name;
        std::string machine_file;
        std::string args;
        int status;
        Json record;  // the fields the record must hold; null: no record
    };
    const std::string win98 = "Platform=1\nMajor=4\nMinor=10\n";
    const std::vector<Row> rows{
        {"written", machine("", ""), "--yes upgrade", 0,
         {{"carrier", "USB"}, {"device", "[Printer]"}, {"bytes_sent", 30000}, {"exit_status", 0}, {"check", nullptr},
          {"status", "Writing complete....Do not turn off until printer is initialized!"}}},
        {"busy", machine("", "DownloadStatus=1\n"), "--yes upgrade", 1,
         {{"bytes_sent", 0}, {"exit_status", 1}, {"status", "Printer is busy...!"}}},
        {"data lost", machine("", "FailWriteAfter=8192\n"), "--yes upgrade", 1,
         {{"bytes_sent", 8192}, {"exit_status", 1}, {"status", "Writing data error...!"}}},
        {"over LPT, checked", machine(win98, "Port=LPT1\nVersion=099\nVersionAfterUpgrade=106\n"),
         "--yes --check-after upgrade", 0,
         {{"carrier", "LPT"}, {"device", "[Printer]"}, {"version_before", 99}, {"check", "matches"}, {"exit_status", 0},
          {"status", "Writing complete....Do not turn off until printer is initialized!"}}},
        {"checked, old version", machine("", "VersionAfterUpgrade=keep\n"), "--yes --check-after upgrade", 3,
         {{"check", "other version"}, {"exit_status", 3}}},
        {"verify only", machine("", ""), "verify", 0, nullptr},
        {"answered no", machine("", ""), "upgrade", 1, nullptr},
        {"up to date", machine("", "Version=106\n"), "--yes upgrade", 0, nullptr},
        {"history off", machine("", ""), "--no-history --yes upgrade", 0, nullptr},
    };
    CliFolder f("history");
    JsonDocuments documents(FWUP_JSON_HISTORY_SCHEMA);
    std::vector<const Row*> recorded;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        write_file(f.dir() / "vm.ini", row.machine_file);
        const Result r = f.run("--virtual-printer vm.ini --json " + row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        const Json doc = Json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded());
        EXPECT_EQ(doc["history"].is_null(), row.record.is_null()) << doc["history"].dump();
        if (!row.record.is_null()) {
            EXPECT_EQ(doc["history"], Json({{"file", (f.dir() / "state" / "fwupgrade" / "history.jsonl").string()},
                                            {"written", true}}));
            recorded.push_back(&row);
        }
    }

    const Result h = f.run("--json history");
    EXPECT_EQ(h.status, 0) << h.err;
    const Json doc = documents.take(h);
    ASSERT_FALSE(doc.is_discarded());
    ASSERT_EQ(doc["records"].size(), recorded.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        SCOPED_TRACE(recorded[i]->name);
        const Json& record = doc["records"][i];
        for (const auto& [key, value] : recorded[i]->record.items()) EXPECT_EQ(record[key], value) << key;
        EXPECT_EQ(record["program"], "fwupgrade-cli");
        EXPECT_EQ(record["virtual"], true);
        EXPECT_EQ(record["image"], "fw.bin");
        EXPECT_EQ(record["image_size"], 30000);
        EXPECT_EQ(record["image_sha256"], sha256sum(f.dir() / "fw.bin"));
        EXPECT_EQ(record["printer_id"], kDeviceId);
    }
    // The text form: one line per record, newest last.
    const Result text = f.run("history");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.out.begin(), text.out.end(), '\n')), recorded.size());
    EXPECT_NE(text.out.rfind("(virtual): USB [Printer] (VP-1000) 1.00, fw.bin 30000 bytes SHA-256 "), std::string::npos)
        << text.out;

    // A line that is not a record is passed over, and said so.
    std::ofstream(f.dir() / "state" / "fwupgrade" / "history.jsonl", std::ios::app) << "{\"time\": \"cut short\n";
    const Result damaged = f.run("--json history");
    EXPECT_EQ(damaged.status, 0);
    const Json kept = documents.take(damaged);
    EXPECT_EQ(kept["records"].size(), recorded.size());
    EXPECT_EQ(kept["problems"], Json::array({"line " + std::to_string(recorded.size() + 1) + " is not a record"}));
    EXPECT_NE(damaged.err.find("is not a record"), std::string::npos);
}

// A history that cannot be written is a warning; the upgrade's result stands.
TEST(CliBlackBox, UnwritableHistoryLeavesTheResultUnchanged) {
    CliFolder f("unwritable");
    write_file(f.dir() / "vm.ini", machine("", ""));
    // A file where the folder should be: no permission bits involved, so it holds for root too.
    const std::string blocked = "XDG_STATE_HOME='" + (f.dir() / "fw.bin").string() + "'";
    const Result r = f.run("--virtual-printer vm.ini --yes upgrade", blocked);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Status: Writing complete....Do not turn off until printer is initialized!\n"),
              std::string::npos);
    EXPECT_EQ(r.err.rfind("fwupgrade-cli: warning: the history was not written: " + (f.dir() / "fw.bin").string(), 0),
              0u)
        << r.err;
    const Result j = f.run("--virtual-printer vm.ini --yes --json upgrade", blocked);
    EXPECT_EQ(j.status, 0);
    const Json doc = Json::parse(j.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["history"]["written"], false);
    EXPECT_EQ(doc["exit_status"], 0);
    // Nothing else was written instead.
    EXPECT_FALSE(fs::exists(f.dir() / "state"));
}

}  // namespace
