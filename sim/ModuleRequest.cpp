#include "ModuleState.h"

#include "LineCodes.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <sstream>

using namespace modbus485;

namespace {
int word(const uint8_t *p) {
    return (p[0] << 8) | p[1];
}
void putWord(std::vector<uint8_t> &frame, int value) {
    frame.push_back(static_cast<uint8_t>(value >> 8));
    frame.push_back(static_cast<uint8_t>(value));
}

void packBits(std::vector<uint8_t> &frame, const std::vector<bool> &bits) {
    const size_t bytes = (bits.size() + 7) / 8;
    frame.push_back(static_cast<uint8_t>(bytes));
    for (size_t b = 0; b < bytes; ++b) {
        uint8_t value = 0;
        for (size_t i = 0; i < 8 && b * 8 + i < bits.size(); ++i)
            value |= bits[b * 8 + i] ? (1u << i) : 0;
        frame.push_back(value);
    }
}

} // namespace

int requestFrameLength(const uint8_t *frame, int available) {
    if (available < 2)
        return available;
    int length = 4; // station, function, CRC
    switch (frame[1]) {
    case ReadCoils:
    case ReadInputs:
    case ReadHoldingRegisters:
    case ReadInputRegisters:
    case WriteCoil:
    case WriteRegister:
        length = 8;
        break;
    case WriteCoils:
    case WriteRegisters:
        length = available > 6 ? 9 + frame[6] : 7;
        break;
    default:
        break;
    }
    return std::min(length, available);
}

void answerRequest(ModuleState &state, const uint8_t *request, int length, bool protocolAddressing,
                   std::vector<uint8_t> &reply, std::string &log) {
    const uint8_t station = request[0];
    const uint8_t function = request[1];
    reply = {station, function};
    uint8_t exception = ModuleState::Served;
    std::ostringstream text;
    const int address = length >= 6 ? word(request + 2) : 0;
    const int item = protocolAddressing ? address : address + 1;
    const int quantity = length >= 6 ? word(request + 4) : 0;

    switch (function) {
    case ReadCoils:
    case ReadInputs: {
        text << (function == ReadCoils ? "read-coils " : "read-inputs ") << item << ' ' << quantity;
        std::vector<bool> bits;
        if (quantity < 1 || quantity > MODBUS_MAX_READ_BITS)
            exception = ModuleState::IllegalValue;
        else
            exception = function == ReadCoils ? state.readCoils(item, quantity, bits)
                                              : state.readInputs(item, quantity, bits);
        if (!exception)
            packBits(reply, bits);
        break;
    }
    case ReadHoldingRegisters:
    case ReadInputRegisters: {
        text << (function == ReadHoldingRegisters ? "read-holding-registers " : "read-input-registers ")
             << item << ' ' << quantity;
        std::vector<uint16_t> values;
        if (quantity < 1 || quantity > MODBUS_MAX_READ_REGISTERS)
            exception = ModuleState::IllegalValue;
        else
            exception = function == ReadHoldingRegisters ? state.readHoldingRegisters(item, quantity, values)
                                                         : state.readInputRegisters(item, quantity, values);
        if (!exception) {
            reply.push_back(static_cast<uint8_t>(values.size() * 2));
            for (uint16_t v : values)
                putWord(reply, v);
        }
        break;
    }
    case WriteCoil: {
        const int value = quantity;
        text << "write-coil " << item << ' ' << (value == 0xFF00 ? 1 : value);
        if (value != 0xFF00 && value != 0)
            exception = ModuleState::IllegalValue;
        else
            exception = state.writeCoil(item, value == 0xFF00);
        break;
    }
    case WriteRegister:
        text << "write-register " << item << ' ' << quantity;
        exception = state.writeHoldingRegister(item, static_cast<uint16_t>(quantity));
        break;
    case WriteCoils:
    case WriteRegisters: {
        text << (function == WriteCoils ? "write-coils " : "write-registers ") << item << ' ' << quantity;
        const int bytes = length >= 7 ? request[6] : -1;
        const bool coils = function == WriteCoils;
        const int wanted = coils ? (quantity + 7) / 8 : quantity * 2;
        if (quantity < 1 || quantity > (coils ? MODBUS_MAX_WRITE_BITS : MODBUS_MAX_WRITE_REGISTERS) ||
            bytes != wanted || length < 7 + bytes + 2) {
            exception = ModuleState::IllegalValue;
        } else if (coils) {
            std::vector<bool> bits;
            for (int i = 0; i < quantity; ++i)
                bits.push_back(request[7 + i / 8] & (1u << (i % 8)));
            exception = state.writeCoils(item, bits);
        } else {
            std::vector<uint16_t> values;
            for (int i = 0; i < quantity; ++i)
                values.push_back(static_cast<uint16_t>(word(request + 7 + 2 * i)));
            exception = state.writeHoldingRegisters(item, values);
        }
        break;
    }
    default:
        text << "function " << static_cast<int>(function);
        exception = ModuleState::IllegalFunction;
        break;
    }
    if (exception) {
        reply = {station, static_cast<uint8_t>(function | ExceptionFlag), exception};
        text << " exception " << static_cast<int>(exception);
    } else if (function >= WriteCoil) { // a write's answer repeats its address and value or quantity
        reply.insert(reply.end(), request + 2, request + 6);
    }
    log = text.str();
}
