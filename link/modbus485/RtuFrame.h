#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace modbus485 {

constexpr std::size_t MaxFrameSize = 256; // a Modbus RTU frame at its longest

// The request frames MODBUS485 sends (functions 1-6): station, function, two 16-bit fields, CRC.
using RtuRequest = std::array<uint8_t, 8>;
RtuRequest rtuRequest(int station, int function, int address, int quantityOrValue);

// Bytes of a good answer to `request`.
std::size_t rtuAnswerSize(const RtuRequest &request);

enum class RtuAnswer { Incomplete, Good, Exception, WrongStation, Garbled, CutShort, Mismatched };

// Judges the bytes that have come in for `request`, in this order: a frame that checks whole (its CRC holds)
// but whose length, function or write echo does not fit the request is Mismatched; the request's answer
// length with a CRC that fails is Garbled; then the station, the exception, and Good. A frame's length is
// what its own header says, so a shorter or longer answer that checks is told from one spoilt on the way.
// `frameSize` is set to the bytes the judged frame takes, or those still awaited. Until `final` (nothing more
// will come) too few bytes are Incomplete; then some bytes are CutShort and none Incomplete.
RtuAnswer checkRtuAnswer(const RtuRequest &request, const uint8_t *answer, std::size_t size,
                         std::size_t &frameSize, bool final = false);

} // namespace modbus485
