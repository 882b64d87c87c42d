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

} // namespace modbus485
