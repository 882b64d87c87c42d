#pragma once

#include "ModuleState.h"

#include <cstdint>
#include <string>
#include <vector>

// A Modbus RTU request as the module reads it.

// The module's reply (without CRC) to one request whose CRC checked, carried out on `state`, and the
// request's log line ("read-coils 1 16", "write-coil 3 1 exception 2"). Items are reference numbers unless
// `protocolAddressing`.
void answerRequest(ModuleState &state, const uint8_t *request, int length, bool protocolAddressing,
                   std::vector<uint8_t> &reply, std::string &log);

// The length of a request frame as its header gives it, for a frame that libmodbus read but did not accept
// (bad CRC, another station): what libmodbus reads for it, at most `available`.
int requestFrameLength(const uint8_t *frame, int available);
