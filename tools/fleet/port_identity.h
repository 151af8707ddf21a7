// What line a terminal's port names, so that two names of one line are found: COM3 and the
// device it is mapped to, a device and a symbolic link to it, rfc2217:// and tcp:// to the same
// host and port of a device server.
#pragma once

#include <string>

namespace quiblink::fleet {

enum class PortKind { kCom, kDevice, kNetwork, kInvalid };

PortKind KindOfPort(const std::string &port);

// COM1..COM10 (or \\.\COM10): 1..10; 0 for any other port.
int ComNumber(const std::string &port);

// "/dev/ttyS2" (symbolic links resolved when the device exists), or "net host:port" with the
// host in lower case. COMn is first mapped as the library maps it (QUIBLINK_COMn, else
// /dev/ttyS(n-1)).
std::string PortIdentity(const std::string &port);

}  // namespace quiblink::fleet
