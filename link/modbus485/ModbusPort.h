#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

typedef struct _modbus modbus_t;

// One serial port of MODBUS485: its libmodbus context, the line's timing, the hygiene that keeps a late
// answer from being taken for the next one, and the stations it has demoted for not answering.
// Addresses here are protocol addresses; every exchange is serialised by the port's own mutex.
class ModbusPort {
public:
    enum class Outcome { Done, NoAnswer, Refused, LineFault, DeviceFailed, NotOpen, Demoted };

    explicit ModbusPort(int number);
    ~ModbusPort();
    ModbusPort(const ModbusPort &) = delete;
    ModbusPort &operator=(const ModbusPort &) = delete;

    // Opens (or reopens with new settings) the port's device; 0 or an MODBUS485_OPEN_ code.
    int open(int baud, char parity, bool protocolAddressing);
    void close();
    // An MODBUS485_STATUS_ code.
    int status();
    // True when the numbers passed for this port are protocol addresses rather than reference numbers.
    bool protocolAddressing();

    Outcome readBits(int station, bool coils, int address, int count, uint8_t *bits);
    Outcome readRegisters(int station, bool input, int address, int count, uint16_t *values);
    Outcome writeCoil(int station, int address, bool on);
    Outcome writeRegister(int station, int address, uint16_t value);

    // Device path for port n: MODBUS485_PORT<n>, else the platform's own name for it.
    static std::string devicePath(int number);

private:
    using Clock = std::chrono::steady_clock;
    struct StationHealth {
        Clock::time_point demotedUntil{};
    };

    template <class Exchange>
    Outcome exchange(int station, bool isRead, int requestBytes, int answerBytes, Exchange &&call);
    Clock::duration deadline(int requestBytes, int answerBytes) const;
    void drainLine();
    bool deviceHungUp() const;
    // True (and the line marked suspect) when more bytes arrive within `window` after an answer.
    bool answerFollows(Clock::duration window);
    void closeLocked();

    const int m_number;
    std::mutex m_mutex;
    modbus_t *m_modbus = nullptr;
    double m_characterSeconds = 0;
    bool m_protocolAddressing = false;
    bool m_deviceFailed = false;
    // Set when an exchange ended without a clean answer: bytes of it may still be on their way.
    bool m_lineSuspect = false;
    bool m_verifyNext = false; // the next answer must not be followed by another
    Clock::time_point m_lineSuspectSince{};
    Clock::duration m_lateWindow{};
    Clock::time_point m_lineQuietSince{}; // end of the last exchange or of the last byte drained
    StationHealth m_stations[248];
};
