#include "tests/support/snmp_agent.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "system/files/unique_descriptor.h"

extern char** environ;

namespace fwup::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartDeadline = std::chrono::seconds(10);
constexpr auto kStopDeadline = std::chrono::seconds(5);
constexpr int kPortTries = 5;

// A v2c GET of sysUpTime.0 with community "public": any answer at all means
// the agent has opened its port and parsed its configuration.
constexpr std::array<unsigned char, 40> kProbe{
    0x30, 0x26, 0x02, 0x01, 0x01, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xa0,
    0x19, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0e, 0x30, 0x0c,
    0x06, 0x08, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x05, 0x00};

std::optional<std::string> find_snmpd() {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            folders.emplace_back(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    folders.emplace_back("/usr/sbin");  // not in an ordinary user's PATH
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const std::string candidate = folder + "/snmpd";
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A port nobody holds right now; snmpd may still lose it to another program
// before it binds, which start() answers by trying another.
std::optional<std::uint16_t> free_udp_port() {
    const UniqueDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) return std::nullopt;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return ntohs(address.sin_port);
}

// Values go in as hex, so line breaks, quotes and long texts reach the agent
// byte for byte; an empty value has to be written as an empty quoted string.
std::string config_value(const std::string& value) {
    if (value.empty()) return "\"\"";
    static constexpr std::string_view kDigits = "0123456789abcdef";
    std::string hex = "0x";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

std::string read_text(const std::filesystem::path& path) {
    // Through the stream's buffer: GCC 12 at -O3 reports a false null
    // dereference inside istreambuf_iterator.
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The environment snmpd gets: the test's own, less what would point it at
// the machine's SNMP files or preload the test's libraries into it.
std::vector<std::string> agent_environment(const std::filesystem::path& persistent) {
    static constexpr std::array<std::string_view, 6> kDropped{"SNMP_PERSISTENT_DIR", "SNMPCONFPATH", "MIBS",
                                                             "MIBDIRS", "MIBFILES", "LD_PRELOAD"};
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        const std::string_view name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const std::string_view drop : kDropped) dropped = dropped || name == drop;
        if (!dropped) entries.emplace_back(text);
    }
    entries.push_back("SNMP_PERSISTENT_DIR=" + persistent.string());
    entries.emplace_back("MIBS=");
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (std::string& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

class SpawnActions {
public:
    SpawnActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;

    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

void pause_briefly() { ::poll(nullptr, 0, 20); }

}  // namespace

bool SnmpAgent::required() {
    const char* required = std::getenv("FWUP_SNMPD_REQUIRED");
    return required != nullptr && std::string(required) == "1";
}

std::optional<std::string> SnmpAgent::unavailable() {
    if (find_snmpd()) return std::nullopt;
    return "snmpd is not installed (Debian: snmpd)";
}

std::unique_ptr<SnmpAgent> SnmpAgent::start(std::vector<std::pair<std::string, std::string>> overrides,
                                            std::string& error) {
    error.clear();
    const std::optional<std::string> program = find_snmpd();
    if (!program) {
        error = *unavailable();
        return nullptr;
    }
    std::error_code failure;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(failure);
    if (failure) {
        error = "no temporary folder: " + failure.message();
        return nullptr;
    }
    std::string pattern = (temp / "fwup-snmpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a scratch folder: " + std::string(std::strerror(errno));
        return nullptr;
    }
    // From here on the agent owns the folder and whatever runs in it.
    std::unique_ptr<SnmpAgent> agent(new SnmpAgent(pattern));
    for (int attempt = 0; attempt < kPortTries; ++attempt) {
        const std::optional<std::uint16_t> port = free_udp_port();
        if (!port) {
            error = "no free UDP port on 127.0.0.1";
            return nullptr;
        }
        bool bind_failed = false;
        if (agent->launch(*program, *port, overrides, bind_failed, error)) {
            agent->port_ = *port;
            return agent;
        }
        if (!bind_failed) return nullptr;
    }
    return nullptr;
}

bool SnmpAgent::launch(const std::string& program, std::uint16_t port,
                       const std::vector<std::pair<std::string, std::string>>& overrides, bool& bind_failed,
                       std::string& error) {
    bind_failed = false;
    const std::filesystem::path config = folder_ / "snmpd.conf";
    const std::filesystem::path log = folder_ / "snmpd.log";
    const std::filesystem::path output = folder_ / "snmpd.out";
    const std::filesystem::path pid_file = folder_ / "snmpd.pid";
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    {
        std::ofstream out(config, std::ios::trunc);
        out << "agentaddress udp:127.0.0.1:" << port << "\n"
            << "rocommunity public 127.0.0.1\n";
        for (const auto& [oid, value] : overrides) out << "override " << oid << " octet_str " << config_value(value) << "\n";
        out.flush();
        if (!out) {
            error = "cannot write " + config.string();
            return false;
        }
    }

    std::vector<std::string> arguments{program, "-f", "-r", "-C", "-c", config.string(), "-Lf", log.string(),
                                       "-p", pid_file.string()};
    std::vector<std::string> environment = agent_environment(folder_ / "persistent");
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);
    SpawnActions actions;
    if (!actions.ok() || ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        ::posix_spawn_file_actions_addopen(actions.get(), 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600) !=
            0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), 1, 2) != 0) {
        error = "cannot prepare to start snmpd";
        return false;
    }
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), envp.data());
    if (spawned != 0) {
        error = "cannot start " + program + ": " + std::strerror(spawned);
        return false;
    }
    pid_ = pid;

    const UniqueDescriptor probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in agent_address = loopback(port);
    if (probe.get() < 0 ||
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&agent_address), sizeof agent_address) != 0) {
        error = "cannot make a UDP socket to ask snmpd";
        stop();
        return false;
    }
    const Clock::time_point deadline = Clock::now() + kStartDeadline;
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            const std::string said = read_text(log) + read_text(output);
            bind_failed = said.find("Error opening specified endpoint") != std::string::npos;
            std::ostringstream why;
            why << "snmpd ended before answering (status " << status << "): " << said;
            error = why.str();
            return false;
        }
        if (::send(probe.get(), kProbe.data(), kProbe.size(), 0) >= 0) {
            pollfd ready{probe.get(), POLLIN, 0};
            if (::poll(&ready, 1, 100) == 1) {
                std::array<unsigned char, 512> answer{};
                if (::recv(probe.get(), answer.data(), answer.size(), 0) > 0) return true;
            }
        }
        // Nothing there yet (the port refuses until snmpd binds it).
        pause_briefly();
    }
    error = "snmpd did not answer on 127.0.0.1:" + std::to_string(port) + " within " +
            std::to_string(kStartDeadline.count()) + " s: " + read_text(log) + read_text(output);
    stop();
    return false;
}

void SnmpAgent::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const Clock::time_point deadline = Clock::now() + kStopDeadline;
    while (Clock::now() < deadline) {
        int status = 0;
        const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_ || (reaped < 0 && errno != EINTR)) {
            pid_ = -1;
            return;
        }
        pause_briefly();
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

SnmpAgent::~SnmpAgent() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace fwup::test
