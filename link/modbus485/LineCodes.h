#ifndef MODBUS485_LINECODES_H
#define MODBUS485_LINECODES_H

#include <cstdint>

// The codes of the line as MODBUS485's callers, the module and the simulator use them: baud and parity codes
// with what they stand for, and the Modbus function codes. Numbers only: what the window calls them stays
// with the window's texts.
namespace modbus485 {

// The stations a request may address, and the port numbers MODBUS485 takes.
inline constexpr int32_t MaxStation = 247;
inline constexpr int32_t MaxPort = 255;

// OpenPort_Modbus's baud codes 0, 1, 2 and their rates.
inline constexpr int32_t BaudCodes = 3;
inline constexpr int BaudRates[BaudCodes] = {4800, 9600, 19200};

// Parity codes, as OpenPort_Modbus takes them and the module's register 4X 256 holds them, and the letters
// a serial line is set up with.
enum ParityCode : int32_t { ParityNone = 0, ParityOdd = 1, ParityEven = 2 };
inline constexpr int32_t ParityCodes = 3;
inline constexpr char ParityLetters[ParityCodes] = {'N', 'O', 'E'};

// Modbus function codes; an exception reply carries its request's code with ExceptionFlag set.
enum FunctionCode : uint8_t {
    ReadCoils = 0x01,
    ReadInputs = 0x02,
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteCoil = 0x05,
    WriteRegister = 0x06,
    WriteCoils = 0x0F,
    WriteRegisters = 0x10,
};
inline constexpr uint8_t ExceptionFlag = 0x80;

} // namespace modbus485

#endif // MODBUS485_LINECODES_H
