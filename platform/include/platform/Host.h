// Whether a server address names the computer this program runs on.
#pragma once

#include <string>

namespace platform {

// True when `host` (a name or a numeric address, without port) is this
// computer: "localhost", any 127.x.x.x address, "::1", this computer's own
// host name (with or without its domain) or an address of one of its
// network interfaces. Nothing is looked up over the network.
[[nodiscard]] bool NamesThisComputer(const std::string& host);

} // namespace platform
