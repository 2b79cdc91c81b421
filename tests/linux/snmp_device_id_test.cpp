// A network printer's IEEE 1284 ID over SNMP, asked of a real snmpd on
// loopback that answers the printer objects with given values.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "adapters/linux/snmp_device_id.h"
#include "system/files/unique_descriptor.h"
#include "tests/support/snmp_agent.h"

namespace fwup {
namespace {

using test::SnmpAgent;

const std::string kPpm = "1.3.6.1.4.1.2699.1.2.1.2.1.1.3.1";  // ppmPrinterIEEE1284DeviceId.1
const std::string kDescr = "1.3.6.1.2.1.25.3.2.1.3.1";        // hrDeviceDescr.1
const std::string kNoAnswer = "no SNMP answer (wrong community, or no agent)";
const std::string kNoId = "no IEEE 1284 ID over SNMP";

// A port that takes requests and never answers, as a printer that is off.
struct SilentPort {
    UniqueDescriptor socket{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    std::uint16_t port = 0;
    SilentPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
    }
};

struct Row {
    std::string name;
    std::vector<std::pair<std::string, std::string>> overrides;
    std::optional<std::string> id;
    std::string problem;  // when there is no ID
    std::string host = "127.0.0.1";
    std::string community = "public";
    bool agent = true;  // false: ask a port where no agent answers
};

TEST(SnmpDeviceId, ReadsThePrinterObjectsOfARealAgent) {
    SnmpTarget target;
    target.host = "127.0.0.1";
    std::string problem;
    if (!snmp_available()) {
        EXPECT_EQ(read_snmp_device_id(target, &problem), std::nullopt);
        EXPECT_EQ(problem, "this build has no SNMP");
        if (SnmpAgent::required()) FAIL() << "built without net-snmp (Debian: libsnmp-dev), and FWUP_SNMPD_REQUIRED=1";
        GTEST_SKIP() << "built without net-snmp (Debian: libsnmp-dev)";
    }
    if (const std::optional<std::string> reason = SnmpAgent::unavailable()) {
        if (SnmpAgent::required()) FAIL() << *reason << ", and FWUP_SNMPD_REQUIRED=1";
        GTEST_SKIP() << *reason;
    }

    const std::string id = "MFG:Acme;CMD:PJL,PCL;MDL:Laser 9;CLS:PRINTER;";
    std::string long_id = "MFG:Acme;MDL:Laser 9;DES:";
    long_id.resize(999, 'x');
    long_id += ';';
    const std::vector<Row> rows{
        {"the port monitor's ID before hrDeviceDescr's, by host name",
         {{kPpm, id}, {kDescr, "MFG:Other;MDL:Desc;"}}, id, "", "localhost"},
        {"hrDeviceDescr holding an ID", {{kDescr, id}}, id, ""},
        {"an empty port monitor ID gives way to hrDeviceDescr", {{kPpm, ""}, {kDescr, id}}, id, ""},
        {"hrDeviceDescr with neither ':' nor ';'", {{kDescr, "Acme Laser 9"}}, std::nullopt, kNoId},
        {"hrDeviceDescr with ':' but no ';'", {{kDescr, "Acme: Laser 9"}}, std::nullopt, kNoId},
        {"hrDeviceDescr with ';' but no ':'", {{kDescr, "Acme; Laser 9"}}, std::nullopt, kNoId},
        {"hrDeviceDescr with its fields on lines", {{kDescr, "MFG:Acme\r\nMDL:Laser 9\r\n"}},
         "MFG:Acme\r\nMDL:Laser 9\r\n", ""},
        {"neither object", {}, std::nullopt, kNoId},
        {"line breaks kept", {{kPpm, "MFG:Acme;\r\nMDL:Laser 9;\n"}}, "MFG:Acme;\r\nMDL:Laser 9;\n", ""},
        {"a 1000-byte ID whole", {{kPpm, long_id}}, long_id, ""},
        {"a wrong community", {{kPpm, id}}, std::nullopt, kNoAnswer, "127.0.0.1", "private"},
        {"no agent on the port", {}, std::nullopt, kNoAnswer, "127.0.0.1", "public", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string error;
        std::unique_ptr<SnmpAgent> agent;
        SilentPort silent;
        if (row.agent) {
            agent = SnmpAgent::start(row.overrides, error);
            ASSERT_NE(agent, nullptr) << error;
        }
        target.host = row.host;
        target.community = row.community;
        target.port = agent ? agent->port() : silent.port;
        problem.clear();
        const std::optional<std::string> read = read_snmp_device_id(target, &problem);
        EXPECT_EQ(read, row.id);
        if (!row.id) {
            EXPECT_EQ(problem, row.problem);
        }
    }
}

}  // namespace
}  // namespace fwup
