#pragma once
#include <cstdint>
#include <optional>
#include <string>
namespace fwup {
// Where and how to ask a network printer's SNMP agent.
struct SnmpTarget {
    std::string host;                // name or address, as the operator gave it
    std::uint16_t port = 161;        // the agent's UDP port
    std::string community = "public";
    std::uint32_t timeout_ms = 1000; // one request, no retries beyond net-snmp's one retry at most
};
// Whether this build can ask SNMP agents at all (built with net-snmp).
bool snmp_available();
// The printer's IEEE 1284 ID: ppmPrinterIEEE1284DeviceId.1, else hrDeviceDescr.1 when that holds
// an ID (both ':' and ';'). The text as the agent gave it (no normalisation). Empty when there is
// none; `problem` (if given) then says why in a short lower-case phrase: "no SNMP answer (wrong
// community, or no agent)", "no IEEE 1284 ID over SNMP", "this build has no SNMP".
std::optional<std::string> read_snmp_device_id(const SnmpTarget& target, std::string* problem = nullptr);
}
