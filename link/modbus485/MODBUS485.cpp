// The C entry points of MODBUS485: argument checks, item numbering and the receiving-element layout.
#include "MODBUS485.h"

#include "LineCodes.h"

#include "ModbusPort.h"
#include "PortMap.h"
#include "Trace.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

using namespace modbus485;

namespace {
constexpr int32_t Failed = MODBUS485_FAILED;
constexpr int BitBlock = 16;
constexpr int RegisterBlock = 8;

std::mutex g_portsMutex;

// Ports live as long as the process, so a call on one thread never sees a port destroyed by another.
std::map<int32_t, std::unique_ptr<ModbusPort>> &ports() {
    static auto *table = new std::map<int32_t, std::unique_ptr<ModbusPort>>;
    return *table;
}

ModbusPort *findPort(int32_t port, bool create = false) {
    if (port < 1 || port > MaxPort)
        return nullptr;
    std::lock_guard lock(g_portsMutex);
    auto &table = ports();
    auto it = table.find(port);
    if (it == table.end()) {
        if (!create)
            return nullptr;
        it = table.emplace(port, std::make_unique<ModbusPort>(port)).first;
    }
    return it->second.get();
}

// The port and protocol address for `count` items from `number`, or nullptr when any argument is out of
// range.
ModbusPort *target(int32_t port, int32_t station, int32_t number, int count, int &address) {
    ModbusPort *p = station >= 1 && station <= MaxStation ? findPort(port) : nullptr;
    if (!p)
        return nullptr;
    const int64_t first = p->protocolAddressing() ? int64_t{number} : int64_t{number} - 1;
    if (first < 0 || first + count > 65536)
        return nullptr;
    address = static_cast<int>(first);
    return p;
}

// Reads `count` (1 to BitBlock) coils or inputs from `start` into `elements`, eight to an element, the first
// item in bit 0; Failed in each element when an argument is out of range or the read fails. The first
// element: a single item's value.
int32_t bitBlock(int32_t port, int32_t station, int32_t start, int count, int32_t *elements, bool coils) {
    if (!elements)
        return Failed;
    int address = 0;
    uint8_t bits[BitBlock] = {};
    ModbusPort *p = target(port, station, start, count, address);
    const bool ok = p && p->readBits(station, coils, address, count, bits) == ModbusPort::Outcome::Good;
    for (int element = 0; element < (count + 7) / 8; ++element) {
        int32_t byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            byte |= bits[element * 8 + bit] ? (1 << bit) : 0;
        elements[element] = ok ? byte : Failed;
    }
    return elements[0];
}

// The same for `count` (1 to RegisterBlock) input or holding registers, one to an element.
int32_t registerBlock(int32_t port, int32_t station, int32_t start, int count, int32_t *elements, bool input,
                      bool isSigned) {
    if (!elements)
        return Failed;
    int address = 0;
    uint16_t values[RegisterBlock] = {};
    ModbusPort *p = target(port, station, start, count, address);
    const bool ok =
        p && p->readRegisters(station, input, address, count, values) == ModbusPort::Outcome::Good;
    for (int i = 0; i < count; ++i)
        elements[i] = !ok ? Failed : isSigned ? int32_t{static_cast<int16_t>(values[i])} : int32_t{values[i]};
    return elements[0];
}

// Copies `text` into the caller's buffer, cut at a character boundary to fit, always terminated; the bytes
// written without the terminator.
int32_t copyText(const std::string &text, char *buffer, int32_t size) {
    std::size_t length = std::min(text.size(), static_cast<std::size_t>(size - 1));
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length; // not inside a UTF-8 sequence
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}

int32_t writeCoil(int32_t port, int32_t station, int32_t coil, bool on) {
    int address = 0;
    ModbusPort *p = target(port, station, coil, 1, address);
    if (!p || p->writeCoil(station, address, on) != ModbusPort::Outcome::Good)
        return Failed;
    return 0;
}
} // namespace

extern "C" {

MODBUS485_API int32_t MODBUS485_CALL OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) {
    if (port < 1 || port > MaxPort || baudCode < 0 || baudCode >= BaudCodes || parityCode < 0 ||
        parityCode >= ParityCodes)
        return MODBUS485_OPEN_BAD_ARGUMENT;
    const char *addressing = std::getenv("MODBUS485_ADDRESSING");
    const bool protocol = addressing && std::strcmp(addressing, "protocol") == 0;
    Trace::instance().configure();
    return findPort(port, true)->open(BaudRates[baudCode], ParityLetters[parityCode], protocol);
}

MODBUS485_API int32_t MODBUS485_CALL ClosePort_Modbus(int32_t port) {
    if (port < 1 || port > MaxPort)
        return 1;
    if (ModbusPort *p = findPort(port))
        p->close();
    return 0;
}

MODBUS485_API int32_t MODBUS485_CALL GetPort_Status(int32_t port) {
    ModbusPort *p = findPort(port);
    return p ? p->status() : MODBUS485_STATUS_NOT_OPEN;
}

MODBUS485_API int32_t MODBUS485_CALL Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    return writeCoil(port, station, coil, true);
}

MODBUS485_API int32_t MODBUS485_CALL Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    return writeCoil(port, station, coil, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    int32_t value = 0;
    return bitBlock(port, station, coil, 1, &value, true);
}

MODBUS485_API int32_t MODBUS485_CALL Get_0X_B16(int32_t port, int32_t station, int32_t start,
                                                int32_t *elements) {
    return bitBlock(port, station, start, BitBlock, elements, true);
}

MODBUS485_API int32_t MODBUS485_CALL Get_1X_Bit1(int32_t port, int32_t station, int32_t input) {
    int32_t value = 0;
    return bitBlock(port, station, input, 1, &value, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_1X_B16(int32_t port, int32_t station, int32_t start,
                                                int32_t *elements) {
    return bitBlock(port, station, start, BitBlock, elements, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_3X_UnD1(int32_t port, int32_t station, int32_t reg) {
    int32_t value = 0;
    return registerBlock(port, station, reg, 1, &value, true, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_3X_D1(int32_t port, int32_t station, int32_t reg) {
    int32_t value = 0;
    return registerBlock(port, station, reg, 1, &value, true, true);
}

MODBUS485_API int32_t MODBUS485_CALL Get_3X_UnD8(int32_t port, int32_t station, int32_t start,
                                                 int32_t *elements) {
    return registerBlock(port, station, start, RegisterBlock, elements, true, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_3X_D8(int32_t port, int32_t station, int32_t start,
                                               int32_t *elements) {
    return registerBlock(port, station, start, RegisterBlock, elements, true, true);
}

MODBUS485_API int32_t MODBUS485_CALL Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) {
    int32_t value = 0;
    return registerBlock(port, station, reg, 1, &value, false, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_4X_D1(int32_t port, int32_t station, int32_t reg) {
    int32_t value = 0;
    return registerBlock(port, station, reg, 1, &value, false, true);
}

MODBUS485_API int32_t MODBUS485_CALL Get_4X_UnD8(int32_t port, int32_t station, int32_t start,
                                                 int32_t *elements) {
    return registerBlock(port, station, start, RegisterBlock, elements, false, false);
}

MODBUS485_API int32_t MODBUS485_CALL Get_4X_D8(int32_t port, int32_t station, int32_t start,
                                               int32_t *elements) {
    return registerBlock(port, station, start, RegisterBlock, elements, false, true);
}

MODBUS485_API int32_t MODBUS485_CALL Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) {
    // The register holds 16 bits: signed or unsigned views of it are accepted, nothing wider.
    if (value < -32768 || value > 65535)
        return Failed;
    int address = 0;
    ModbusPort *p = target(port, station, reg, 1, address);
    if (!p || p->writeRegister(station, address, static_cast<uint16_t>(value)) != ModbusPort::Outcome::Good)
        return Failed;
    return 0;
}

MODBUS485_API int32_t MODBUS485_CALL GetPort_Device(int32_t port, char *buffer, int32_t size) {
    if (port < 1 || port > MaxPort || !buffer || size < 1)
        return -1;
    const PortMapping mapping = resolvePort(port);
    copyText(mapping.device, buffer, size);
    return mapping.source;
}

MODBUS485_API int32_t MODBUS485_CALL GetPort_Info(int32_t port, char *buffer, int32_t size) {
    if (port < 1 || port > MaxPort || !buffer || size < 1)
        return -1;
    return copyText(findPort(port, true)->info(), buffer, size);
}

MODBUS485_API int32_t MODBUS485_CALL GetPort_Counters(int32_t port, int32_t *values, int32_t count) {
    if (port < 1 || port > MaxPort || !values || count < 0)
        return -1;
    return findPort(port, true)->counters(values, count);
}

MODBUS485_API int32_t MODBUS485_CALL GetPort_LastRead(int32_t port, int32_t station, int32_t function,
                                                      int32_t start, int32_t *values, int32_t count) {
    int address = 0;
    const bool isRead = function >= ReadCoils && function <= ReadInputRegisters;
    ModbusPort *p = isRead && values && count >= 0 ? target(port, station, start, 1, address) : nullptr;
    if (!p && (port < 1 || port > MaxPort || station < 1 || station > MaxStation || !isRead || !values ||
               count < 0))
        return -1;
    if (!p) { // a port never opened, or a start out of range: no such read
        std::fill(values, values + std::min(count, MODBUS485_LASTREAD_VALUES), 0);
        return std::min(count, MODBUS485_LASTREAD_VALUES);
    }
    return p->lastRead(station, function, address, values, count);
}

MODBUS485_API int32_t MODBUS485_CALL SetPort_Turnaround(int32_t port, int32_t milliseconds) {
    ModbusPort *p = milliseconds >= 0 && milliseconds <= 10000 ? findPort(port) : nullptr;
    return p && p->setTurnaround(milliseconds) ? 0 : 1;
}

MODBUS485_API int32_t MODBUS485_CALL SetPort_Trace(int32_t port, const char *path) {
    ModbusPort *p = path ? findPort(port) : nullptr;
    return p && p->setTrace(path) ? 0 : 1;
}

} // extern "C"
