#pragma once

#include "Exchange.h"
#include "Line.h"
#include "LineHygiene.h"
#include "MODBUS485.h"
#include "PortCounters.h"
#include "PortMap.h"
#include "RtuFrame.h"
#include "SerialLine.h"
#include "Trace.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// One serial port of MODBUS485: opening its device and taking it back after a re-plug, and its exchanges.
// What the line does around an exchange (its deadline, echo, pauses and late answers, the stations demoted
// for not answering) is LineHygiene's, what the port has counted PortCounters'. Addresses here are protocol
// addresses. Every exchange, open and close is serialised by the port's own mutex; what the port counted and
// knows of its device is behind a second one, held only for moments, so that it can be read while an
// exchange is under way.
class ModbusPort {
public:
    using Outcome = modbus485::Outcome;

    explicit ModbusPort(int number);
    // A port whose exchanges run over `device` and `clock` instead of its serial device.
    ModbusPort(int number, Device &device, LineClock &clock);
    ~ModbusPort() { close(); }
    ModbusPort(const ModbusPort &) = delete;
    ModbusPort &operator=(const ModbusPort &) = delete;

    // Opens (or reopens with new settings) the port's device and starts its counts afresh; 0 or an
    // MODBUS485_OPEN_ code.
    int open(int baud, char parity, bool protocolAddressing);
    void close();
    // An MODBUS485_STATUS_ code; a failed device that is back under its path is reopened first.
    int status();
    // True when the numbers passed for this port are protocol addresses rather than reference numbers.
    bool protocolAddressing();

    Outcome readBits(int station, bool coils, int address, int count, uint8_t *bits);
    Outcome readRegisters(int station, bool input, int address, int count, uint16_t *values);
    Outcome writeCoil(int station, int address, bool on);
    Outcome writeRegister(int station, int address, uint16_t value);

    // Up to `count` MODBUS485_COUNTER_ values; how many were filled.
    int counters(int32_t *values, int count);
    // Up to `count` MODBUS485_LASTREAD_ values for the read with `function` from `address`; how many.
    int lastRead(int station, int function, int address, int32_t *values, int count);
    // For a person, in the window's language: the device and where its name comes from, a map file passed
    // over on the way, and after an open that failed, the reason.
    std::string info();
    // Turnaround allowed on top of the frames' wire time until the next open; 0 for the default. False when
    // the port is not open.
    bool setTurnaround(int milliseconds);
    // Traces the port's exchanges to `path` (UTF-8) from the next one on, until it is closed or opened
    // again; an empty path goes back to the process's trace. False when the port is not open or the file
    // cannot be opened.
    bool setTrace(const std::string &path);

private:
    using Clock = std::chrono::steady_clock;
    using Exchange = modbus485::Exchange;

    Outcome exchange(Exchange &x);
    Outcome exchangeLocked(Exchange &x);
    // One request and its answer on a line that is open.
    Outcome sendLocked(Exchange &x);
    // Counts a finished exchange, keeps a read's outcome and traces it.
    void record(const Exchange &x);
    Trace &trace();
    bool deviceFailedLocked();
    void failDevice();
    bool reopenLocked();
    Device::OpenResult openLine(Device::OpenFor purpose = Device::OpenFor::Operator);

    const int m_number;
    SerialLine m_serial;
    SteadyClock m_steadyClock;
    Device &m_device;
    LineClock &m_clock;
    LineHygiene m_hygiene;
    std::mutex m_mutex;
    std::mutex
        m_stateMutex; // members from here to m_protocolAddressing: written holding both, read holding either
    PortCounters m_counters;
    std::unique_ptr<Trace> m_trace;   // the port's own, else the process's
    bool m_open = false;              // opened by the operator and not closed since
    modbus485::PortMapping m_mapping; // as resolved at the operator's last open
    Device::OpenResult m_openResult;
    bool m_protocolAddressing = false;
    int m_baud = 9600;
    char m_parity = 'N';
    bool m_deviceFailed = false;
};
