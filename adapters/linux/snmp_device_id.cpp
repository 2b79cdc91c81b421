#include "adapters/linux/snmp_device_id.h"

#if FWUP_HAVE_NETSNMP

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <string_view>
#include <system_error>

namespace fwup {

namespace {

constexpr const char* kNoAnswer = "no SNMP answer (wrong community, or no agent)";
constexpr const char* kNoId = "no IEEE 1284 ID over SNMP";
constexpr const char* kUnknownHost = "unknown host";

// ppmPrinterIEEE1284DeviceId of the first port (Printer Port Monitor MIB) and
// hrDeviceDescr of the first device (Host Resources MIB).
constexpr std::array<oid, 15> kPpmDeviceId{1, 3, 6, 1, 4, 1, 2699, 1, 2, 1, 2, 1, 1, 3, 1};
constexpr std::array<oid, 12> kHrDeviceDescr{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1};

// A time-out longer than this is a typing error, not a slow printer; the cap
// also keeps the microseconds net-snmp counts in within a 32-bit long.
constexpr std::uint32_t kLongestTimeoutMs = 600'000;

struct PduFree {
    void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
using UniquePdu = std::unique_ptr<netsnmp_pdu, PduFree>;

struct SessionClose {
    void operator()(void* session) const { snmp_sess_close(session); }
};
using UniqueSession = std::unique_ptr<void, SessionClose>;

// net-snmp's own error texts carry a detail kept in one static buffer for
// all sessions, so they may tell of another request (or another thread's):
// only the system's error number is taken from it.
std::string system_reason(int error_number) {
    if (error_number == 0) return "";
    return " (" + std::error_code(error_number, std::generic_category()).message() + ")";
}

// net-snmp sets itself up on the first session it prepares (transports,
// request ids, defaults) and reads no configuration or persistent file, loads
// no MIB and leaves the locale alone, all of which init_snmp would do (with
// pages of MIB warnings on stderr where the MIB files are missing, and
// directories made in /var/lib/snmp). That first time is not thread-safe, so
// it happens exactly once, here.
void prepare_library() {
    static const bool prepared = [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_session first{};
        snmp_sess_init(&first);
        return true;
    }();
    static_cast<void>(prepared);
}

bool host_character(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_' || c == ':' ||
           c == '%';
}

// net-snmp takes the transport from a prefix of the peer name, and would read
// more into an operator's text than a host (other transports, file paths): the
// host is checked, and the prefix always given. IPv6 literals need "udp6:" and
// brackets; everything else is resolved as IPv4.
std::optional<std::string> peer_name(const std::string& host, std::uint16_t port) {
    std::string_view name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (name.empty() || !std::all_of(name.begin(), name.end(), host_character)) return std::nullopt;
    const std::string address(name);
    if (address.find(':') != std::string::npos) return "udp6:[" + address + "]:" + std::to_string(port);
    return "udp:" + address + ":" + std::to_string(port);
}

template <std::size_t N>
bool names(const netsnmp_variable_list& variable, const std::array<oid, N>& name) {
    return snmp_oid_compare(variable.name, variable.name_length, name.data(), name.size()) == 0;
}

std::optional<std::string> octet_string(const netsnmp_variable_list& variable) {
    if (variable.type != ASN_OCTET_STR || variable.val.string == nullptr || variable.val_len == 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(variable.val.string), variable.val_len);
}

// Fields with a key: a value, separated by ';' or, on some printers, by line breaks.
bool holds_device_id(const std::string& text) {
    return text.find(':') != std::string::npos && text.find_first_of(";\r\n") != std::string::npos;
}

std::optional<std::string> fail(std::string* problem, std::string why) {
    if (problem != nullptr) *problem = std::move(why);
    return std::nullopt;
}

}  // namespace

bool snmp_available() { return true; }

std::optional<std::string> read_snmp_device_id(const SnmpTarget& target, std::string* problem) {
    prepare_library();
    const std::optional<std::string> peer = peer_name(target.host, target.port);
    if (!peer) return fail(problem, kUnknownHost);

    // The session copies what it is given; the community buffer only has to
    // be writable because of the C declaration.
    std::string peer_text = *peer;
    std::string community = target.community;
    netsnmp_session settings{};
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_2c;
    settings.peername = peer_text.data();
    settings.community = reinterpret_cast<u_char*>(community.data());
    settings.community_len = community.size();
    settings.timeout = static_cast<long>(std::clamp<std::uint32_t>(target.timeout_ms, 1, kLongestTimeoutMs)) * 1000L;
    // A dead printer costs the operator the whole time-out; one try is enough
    // on a local network.
    settings.retries = 0;

    const UniqueSession session(snmp_sess_open(&settings));
    if (!session) {
        if (settings.s_snmp_errno == SNMPERR_BAD_ADDRESS) return fail(problem, kUnknownHost);
        return fail(problem, "no SNMP session" + system_reason(settings.s_errno));
    }

    // Both objects in one request: version 2c answers each one on its own
    // (noSuchObject for the one the printer lacks), so one round trip does.
    UniquePdu request(snmp_pdu_create(SNMP_MSG_GET));
    if (!request || snmp_add_null_var(request.get(), kPpmDeviceId.data(), kPpmDeviceId.size()) == nullptr ||
        snmp_add_null_var(request.get(), kHrDeviceDescr.data(), kHrDeviceDescr.size()) == nullptr) {
        return fail(problem, "no SNMP request (out of memory)");
    }
    netsnmp_pdu* answer = nullptr;
    // The library owns the request from here on, whatever the outcome.
    const int status = snmp_sess_synch_response(session.get(), request.release(), &answer);
    const UniquePdu response(answer);
    if (status == STAT_TIMEOUT) return fail(problem, kNoAnswer);
    if (status != STAT_SUCCESS || !response) {
        const netsnmp_session* state = snmp_sess_session(session.get());
        if (state != nullptr && state->s_snmp_errno == SNMPERR_TIMEOUT) return fail(problem, kNoAnswer);
        return fail(problem, "SNMP request failed" + system_reason(state != nullptr ? state->s_errno : 0));
    }
    if (response->errstat != SNMP_ERR_NOERROR) {
        return fail(problem, std::string("SNMP agent error ") + snmp_errstring(static_cast<int>(response->errstat)));
    }

    std::optional<std::string> ppm;
    std::optional<std::string> description;
    for (const netsnmp_variable_list* variable = response->variables; variable != nullptr;
         variable = variable->next_variable) {
        if (names(*variable, kPpmDeviceId)) ppm = octet_string(*variable);
        if (names(*variable, kHrDeviceDescr)) description = octet_string(*variable);
    }
    if (ppm) return ppm;
    if (description && holds_device_id(*description)) return description;
    return fail(problem, kNoId);
}

}  // namespace fwup

#else

namespace fwup {

bool snmp_available() { return false; }

std::optional<std::string> read_snmp_device_id(const SnmpTarget&, std::string* problem) {
    if (problem != nullptr) *problem = "this build has no SNMP";
    return std::nullopt;
}

}  // namespace fwup

#endif
