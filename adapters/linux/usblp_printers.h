#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/devices/attached_printer.h"

namespace fwup {

// The USB printers the kernel's usblp driver offers: each present node
// <directory>/lp0 .. lp<nodes - 1>, lowest first, with its vendor ID and
// IEEE 1284 ID as the driver's requests give them. Each node is opened and
// closed again; nothing is written to any printer. A node another program
// holds is listed as in use, without its IDs.
std::vector<AttachedPrinter> list_usblp_printers(const std::string& directory = "/dev/usb", std::uint32_t nodes = 16);

// The listed node `path` is, by name or as the same device (a link to it);
// none when it is none of them.
std::optional<std::string> listed_node(const std::string& path, const std::vector<AttachedPrinter>& printers);

}  // namespace fwup
