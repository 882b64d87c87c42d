#pragma once

// The elements of ssqx::PanelVars in use; every other element stays 0.
namespace PanelVar {

// Written only by "打开" (Command9_Click).
inline constexpr int Port = 0;
inline constexpr int BaudCode = 1;   // modbus485::BaudRates' index
inline constexpr int ParityCode = 2; // a modbus485::ParityCode
inline constexpr int Station = 3;

// The value of the register write a counter or parity command is making.
inline constexpr int WriteValue = 15;

// The result of the last open call.
inline constexpr int OpenResult = 20;

} // namespace PanelVar
