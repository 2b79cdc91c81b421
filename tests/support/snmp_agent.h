#pragma once
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fwup::test {

// A real snmpd on a free UDP port of 127.0.0.1, answering community "public"
// from there, with given OIDs overridden to OCTET STRING values. It runs
// unprivileged in a scratch folder of its own (configuration, log, pid file,
// persistent files) and reads nothing of the machine's SNMP set-up. The
// destructor stops it and removes the folder.
class SnmpAgent {
public:
    // Why no agent can be started here (snmpd missing), or nothing.
    static std::optional<std::string> unavailable();
    // Whether a test that needs an agent fails, rather than skips, where none
    // can be started (FWUP_SNMPD_REQUIRED=1, as CI sets it).
    static bool required();
    // `overrides`: numeric OID (no leading dot) and the exact bytes it answers.
    // Waits until the agent answers; nothing and `error` set when it did not.
    static std::unique_ptr<SnmpAgent> start(std::vector<std::pair<std::string, std::string>> overrides,
                                            std::string& error);

    ~SnmpAgent();
    SnmpAgent(const SnmpAgent&) = delete;
    SnmpAgent& operator=(const SnmpAgent&) = delete;

    std::uint16_t port() const { return port_; }

private:
    explicit SnmpAgent(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // Starts snmpd on `port`; false with `error` set when it exited or never
    // answered. `bind_failed` tells whether it gave up on the port itself.
    bool launch(const std::string& program, std::uint16_t port,
                const std::vector<std::pair<std::string, std::string>>& overrides, bool& bind_failed,
                std::string& error);
    void stop();

    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace fwup::test
