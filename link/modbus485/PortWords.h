#pragma once

#include "Line.h"
#include "PortMap.h"

#include <string>

// The texts GetPort_Info returns, for a person, in the window's language.
namespace modbus485 {

// Port `number`'s device and where its name comes from (`mapping`), a map file passed over on the way, a
// pseudo-terminal opened without parity, and after an open that failed, the reason: `opened` is the last
// operator's open, of `openedDevice`; `open` whether the port is open now.
std::string portInfo(int number, const PortMapping &mapping, bool open, const Device::OpenResult &opened,
                     const std::string &openedDevice);

} // namespace modbus485
