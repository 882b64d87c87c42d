#pragma once

#include "MODBUS485.h"
#include "PortMap.h"
#include "RtuFrame.h"
#include "SerialLine.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// One serial port of MODBUS485: its line and timing, the hygiene that keeps a late answer from being taken
// for the next one, the stations it has demoted for not answering, and what it has counted since the
// operator opened it. Addresses here are protocol addresses; every exchange is serialised by the port's own
// mutex.
class ModbusPort {
public:
    // The MODBUS485_OUTCOME_ codes.
    enum class Outcome {
        None,
        Good,
        NoAnswer,
        Garbled,
        WrongStation,
        Exception,
        Late,
        Demoted,
        DeviceFailed,
        NotOpen,
        CutShort,
        Mismatched
    };

    explicit ModbusPort(int number);
    ~ModbusPort();
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

private:
    using Clock = std::chrono::steady_clock;
    struct StationHealth {
        Clock::time_point demotedUntil{};
    };
    struct ReadRecord {
        Outcome outcome = Outcome::None;
        int exception = 0;
        int64_t roundTripUs = 0;
        Clock::time_point end{};
    };
    // One exchange's request and what came back, for the counters and the last-read records.
    struct Exchange {
        modbus485::RtuRequest request{};
        std::vector<uint8_t> dropped; // cleared from the line before the request
        std::vector<uint8_t> answer;
        std::vector<uint8_t> behind; // found on the heels of the answer, and taken off the line
        bool sent = false;
        Outcome outcome = Outcome::None;
        int64_t roundTripUs = 0;
    };

    Outcome exchange(Exchange &x, bool isRead);
    Outcome exchangeLocked(Exchange &x, bool isRead);
    void receive(Exchange &x, Clock::time_point deadline);
    void count(const Exchange &x);
    void remember(const Exchange &x);
    void trace(const Exchange &x);
    Clock::duration deadline(int requestBytes, int answerBytes) const;
    void drainLine(std::vector<uint8_t> &dropped);
    bool answerFollows(Clock::duration window, std::vector<uint8_t> &dropped);
    bool deviceFailedLocked();
    void failDevice();
    bool reopenLocked();
    void markLineSuspect(Clock::duration window);

    const int m_number;
    std::mutex m_mutex;
    SerialLine m_line;
    bool m_open = false;              // opened by the operator and not closed since
    modbus485::PortMapping m_mapping; // as resolved at the operator's last open
    SerialLine::OpenResult m_openResult;
    int m_baud = 9600;
    char m_parity = 'N';
    double m_characterSeconds = 0;
    Clock::duration m_turnaround{};
    bool m_protocolAddressing = false;
    bool m_deviceFailed = false;
    // Set when an exchange ended without a clean answer: bytes of it may still be on their way.
    bool m_lineSuspect = false;
    bool m_verifyNext = false; // the next answer must not be followed by another
    Clock::time_point m_lineSuspectSince{};
    Clock::duration m_lateWindow{};
    Clock::time_point m_lineQuietSince{}; // end of the last exchange or of the last byte drained
    StationHealth m_stations[248];
    std::array<int64_t, MODBUS485_COUNTERS> m_counters{};
    int64_t m_roundTripSumUs = 0;
    int64_t m_roundTrips = 0;
    std::unordered_map<uint32_t, ReadRecord> m_reads; // by station, function and address
};
