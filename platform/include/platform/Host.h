// Whether a server address names the computer this program runs on, and
// this program's own network connections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// True when `host` (a name or a numeric address, without port) is this
// computer: "localhost", any 127.x.x.x address, "::1", this computer's own
// host name (with or without its domain) or an address of one of its
// network interfaces. Nothing is looked up over the network.
[[nodiscard]] bool NamesThisComputer(const std::string& host);

// The local ports of this process's connected TCP sockets (IPv4 and IPv6),
// in no particular order; empty when the system does not tell. Taken before
// and after a connection is made, the difference names that connection's
// port, which the server at the other end knows it by.
[[nodiscard]] std::vector<std::uint16_t> OwnTcpConnectionPorts();

} // namespace platform
