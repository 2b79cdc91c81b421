#include "tests/support/scripted_parallel_ports.h"

#include <algorithm>
#include <cstring>

namespace fwup::test {
namespace {

class ScriptedPort final : public ParallelPort {
public:
    ScriptedPort(ScriptedParallelPorts& ports, PortAccess access) : ports_(ports), access_(access) {
        ++ports_.live_handles;
        ports_.max_live_handles = std::max(ports_.max_live_handles, ports_.live_handles);
    }
    ~ScriptedPort() override { --ports_.live_handles; }
    ScriptedPort(const ScriptedPort&) = delete;
    ScriptedPort& operator=(const ScriptedPort&) = delete;

    bool get_timeouts(CommTimeouts& out) override {
        const bool ok = access_ == PortAccess::ReadWrite ? ports_.script.timeouts_read_write
                                                         : ports_.script.timeouts_write_only;
        if (ok) out = ports_.script.initial_timeouts;
        return ok;
    }

    bool set_timeouts(const CommTimeouts& in) override {
        ports_.timeouts_set.push_back(in);
        return true;
    }

    bool query_device_id(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& returned) override {
        ++ports_.device_id_queries;
        returned = 0;
        if (ports_.script.device_id_failures > 0) {
            --ports_.script.device_id_failures;
            return true;
        }
        const auto& id = ports_.script.device_id;
        returned = static_cast<std::uint32_t>(std::min<std::size_t>(id.size(), capacity));
        // Like a raw driver answer: no terminating zero of its own.
        std::memcpy(buf, id.data(), returned);
        return !ports_.script.device_id_overflow;
    }

    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        written = 0;
        auto& script = ports_.script;
        if (access_ == PortAccess::ReadWrite) {
            if (script.command_write_fails) return false;
            written = script.command_write_short && length > 0 ? length - 1 : length;
            ports_.commands.emplace_back(data, data + written);
            return true;
        }
        const std::uint64_t taken = ports_.data.size();
        std::uint64_t accept = length;
        bool ok = true;
        if (script.data_fail_after && taken + length > *script.data_fail_after) {
            accept = *script.data_fail_after > taken ? *script.data_fail_after - taken : 0;
            ok = false;
        } else if (script.data_short_after && taken + length > *script.data_short_after) {
            accept = *script.data_short_after > taken ? *script.data_short_after - taken : 0;
        }
        ports_.data.insert(ports_.data.end(), data, data + accept);
        written = static_cast<std::uint32_t>(accept);
        return ok;
    }

    bool read(std::uint8_t* buf, std::uint32_t length, std::uint32_t& got) override {
        ports_.read_lengths.push_back(length);
        got = 0;
        auto& replies = ports_.script.replies;
        if (replies.empty()) return true;
        const auto reply = replies.front();
        replies.pop_front();
        got = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), length));
        if (got > 0) std::memcpy(buf, reply.data(), got);
        return true;
    }

    std::string last_error_text() override { return ports_.script.error_text; }

private:
    ScriptedParallelPorts& ports_;
    PortAccess access_;
};

}  // namespace

std::unique_ptr<ParallelPort> ScriptedParallelPorts::open(std::string_view name, PortAccess access) {
    if (name != "LPT1" && name != "LPT2" && name != "LPT3") return nullptr;
    if (!(access == PortAccess::ReadWrite ? script.open_read_write : script.open_write_only)) return nullptr;
    opens.push_back({std::string(name), access});
    return std::make_unique<ScriptedPort>(*this, access);
}

}  // namespace fwup::test
