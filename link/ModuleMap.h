#pragma once

#include "MODBUS485.h"

#include <cstdint>

// Every item of the QM4107 module the panel reads or writes, by the reference number passed to MODBUS485.
namespace ModuleMap {

// Failure value of MODBUS485's writes and single-register reads.
inline constexpr int32_t Failed = MODBUS485_FAILED;

// Coils 0X 1-5: outputs Y1-Y5, 1 = closed. Read as a 16-coil block from coil 1.
inline constexpr int32_t OutputCount = 5;
inline constexpr int32_t CoilBlockStart = 1;
constexpr int32_t outputCoil(int32_t output) {
    return output;
} // output 1..5

// Discrete inputs 1X 1-10: inputs X1-X10, 1 = closed. Read as a 16-input block from input 1.
inline constexpr int32_t InputCount = 10;
inline constexpr int32_t InputBlockStart = 1;

// Input registers 3X 1-3: measured frequency of X1-X3; 4-8 read with the block, not shown.
inline constexpr int32_t FrequencyBlockStart = 1;
constexpr int32_t frequencyRegister(int32_t counter) {
    return counter;
} // counter 1..3, measured on its input X1..X3

// Holding registers 4X: 1-3 counts (writing 0 clears), 4-6 presets (0-65535), 7-9 clear modes
// (0 software clear, non-zero hardware clear). Registers 1-8 are read as one block from register 1.
inline constexpr int32_t CounterBlockStart = 1;
inline constexpr int32_t CounterCount = 3;
constexpr int32_t countRegister(int32_t counter) {
    return counter;
} // counter 1..3
constexpr int32_t presetRegister(int32_t counter) {
    return counter + 3;
} // counter 1..3
constexpr int32_t clearModeRegister(int32_t counter) {
    return counter + 6;
} // counter 1..3
inline constexpr int32_t ClearModeX3Register = clearModeRegister(3);
inline constexpr int32_t PresetMin = 0;
inline constexpr int32_t PresetMax = 65535;

// Holding register 4X 256, signed: parity of the module's own line, a parity code (LineCodes.h).
inline constexpr int32_t ParityRegister = 256;

} // namespace ModuleMap
