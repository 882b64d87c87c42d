#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace modbus485 {

// The request frames MODBUS485 sends (functions 1-6): station, function, two 16-bit fields, CRC.
using RtuRequest = std::array<uint8_t, 8>;
RtuRequest rtuRequest(int station, int function, int address, int quantityOrValue);

// Bytes of a good answer to `request`.
std::size_t rtuAnswerSize(const RtuRequest &request);

enum class RtuAnswer { Incomplete, Good, Exception, WrongStation, Garbled };

// Judges the bytes that have come in for `request`: the CRC first, then the station, then the function or
// exception, then the length. `frameSize` is set to the bytes the judged frame takes; a frame still too short
// to judge is Incomplete.
RtuAnswer checkRtuAnswer(const RtuRequest &request, const uint8_t *answer, std::size_t size,
                         std::size_t &frameSize);

} // namespace modbus485
