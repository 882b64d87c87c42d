#include "RtuFrame.h"

#include "LineCodes.h"

#include "Crc16.h"

#include <algorithm>
#include <cstring>

namespace modbus485 {
namespace {
constexpr std::size_t ExceptionSize = 5;
} // namespace

RtuRequest rtuRequest(int station, int function, int address, int quantityOrValue) {
    RtuRequest frame{static_cast<uint8_t>(station),
                     static_cast<uint8_t>(function),
                     static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address & 0xFF),
                     static_cast<uint8_t>(quantityOrValue >> 8),
                     static_cast<uint8_t>(quantityOrValue & 0xFF)};
    const uint16_t crc = crc16(frame.data(), 6);
    frame[6] = static_cast<uint8_t>(crc & 0xFF);
    frame[7] = static_cast<uint8_t>(crc >> 8);
    return frame;
}

std::size_t rtuAnswerSize(const RtuRequest &request) {
    const std::size_t quantity = std::size_t{request[4]} << 8 | request[5];
    switch (request[1]) {
    case ReadCoils:
    case ReadInputs:
        return 5 + (quantity + 7) / 8;
    case ReadHoldingRegisters:
    case ReadInputRegisters:
        return 5 + 2 * quantity;
    default:
        return 8; // single writes echo the request
    }
}

RtuAnswer checkRtuAnswer(const RtuRequest &request, const uint8_t *answer, std::size_t size,
                         std::size_t &frameSize, bool final) {
    const std::size_t expected = rtuAnswerSize(request);
    // An exception reply is shorter than the answer: taken as one only when its own CRC holds, since
    // garbage often has the top bit set in its second byte.
    if (size >= ExceptionSize && (answer[1] & ExceptionFlag) && crcHolds(answer, ExceptionSize)) {
        frameSize = ExceptionSize;
        if ((answer[1] & 0x7F) != request[1])
            return RtuAnswer::Mismatched;
        return answer[0] != request[0] ? RtuAnswer::WrongStation : RtuAnswer::Exception;
    }
    // The length the frame's own header gives, when it says one other than the answer's.
    std::size_t declared = expected;
    if (size >= 3 && answer[1] >= ReadCoils && answer[1] <= ReadInputRegisters)
        declared = 5 + std::size_t{answer[2]};
    else if (size >= 2 && (answer[1] == WriteCoil || answer[1] == WriteRegister))
        declared = 8;
    if (declared > MaxFrameSize)
        declared = expected;
    for (const std::size_t length : {declared, expected}) {
        if (size < length || !crcHolds(answer, length))
            continue;
        frameSize = length;
        if (length != expected || answer[1] != request[1] ||
            (request[1] <= ReadInputRegisters ? answer[2] != expected - 5
                                              : std::memcmp(answer + 2, request.data() + 2, 4) != 0))
            return RtuAnswer::Mismatched;
        return answer[0] != request[0] ? RtuAnswer::WrongStation : RtuAnswer::Good;
    }
    // Nothing that checks whole: wait for as much as the header says, then judge what came.
    frameSize = std::max(declared, expected);
    if (size < frameSize && !final)
        return RtuAnswer::Incomplete;
    if (size >= expected) {
        frameSize = expected;
        return RtuAnswer::Garbled;
    }
    frameSize = size;
    return size == 0 ? RtuAnswer::Incomplete : RtuAnswer::CutShort;
}

} // namespace modbus485
