#pragma once

#include <cstddef>
#include <cstdint>

namespace modbus485 {

// The Modbus RTU frame check: CRC-16 with polynomial 0xA001 (reflected 0x8005), starting at 0xFFFF. A frame
// carries it low byte first.
constexpr uint16_t crc16(const uint8_t *data, std::size_t length) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// True when the last two of the frame's `size` bytes are the CRC of those before them.
constexpr bool crcHolds(const uint8_t *frame, std::size_t size) {
    const uint16_t crc = crc16(frame, size - 2);
    return frame[size - 2] == (crc & 0xFF) && frame[size - 1] == (crc >> 8);
}

} // namespace modbus485
