#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// The QM4107's data map as the simulator models it, by reference number (coil 1, input 1, register 1).
// Every operation answers a Modbus exception code, 0 when the request is served.
class ModuleState {
public:
    static constexpr uint8_t Served = 0;
    static constexpr uint8_t IllegalFunction = 1;
    static constexpr uint8_t IllegalAddress = 2;
    static constexpr uint8_t IllegalValue = 3;

    static constexpr int CoilItems = 16; // coils 1-16 readable, 1-5 writable (Y1-Y5)
    static constexpr int WritableCoils = 5;
    static constexpr int InputItems = 16;        // inputs 1-16 readable, 1-10 are X1-X10
    static constexpr int InputRegisterItems = 8; // input registers 1-8, 1-3 frequencies of X1-X3
    static constexpr int HoldingItems = 9;       // holding registers 1-9: counts, presets, clear modes
    static constexpr int ParityRegister = 256;
    static constexpr int Counters = 3;
    // The pulse rate of a burst: a contact closing for half of each period, as a hand-worked or slow field
    // contact gives them.
    static constexpr int BurstHertz = 20;

    ModuleState();

    uint8_t readCoils(int first, int count, std::vector<bool> &bits);
    uint8_t readInputs(int first, int count, std::vector<bool> &bits);
    uint8_t readInputRegisters(int first, int count, std::vector<uint16_t> &values);
    uint8_t readHoldingRegisters(int first, int count, std::vector<uint16_t> &values);
    uint8_t writeCoil(int item, bool closed);
    uint8_t writeHoldingRegister(int item, uint16_t value);
    // Multiple writes are all-or-nothing: every item is checked before the first is stored.
    uint8_t writeCoils(int first, const std::vector<bool> &bits);
    uint8_t writeHoldingRegisters(int first, const std::vector<uint16_t> &values);

    // Operator side of the simulation (commands on standard input). False when the item does not exist.
    bool setInput(int item, bool closed);
    bool setCoil(int item, bool closed);
    bool setInputRegister(int item, uint16_t value);
    // Pulses on X1-X3 at `hertz`: the counter advances at that rate and the frequency register shows it.
    bool setPulses(int counter, double hertz);
    // Exactly `pulses` pulses on X1-X3 at BurstHertz, after those of a burst still running: each closes the
    // input (inverts it, for an input held closed) for half a period and is counted as it closes.
    bool burst(int counter, int pulses);

    // The parity setting (register 256) as written, a parity code.
    int paritySetting() const { return static_cast<int16_t>(m_parity); }

    // One line, "coils=... inputs=... input-registers=... holding-registers=... parity=... pulses=...".
    std::string dump();

private:
    using Clock = std::chrono::steady_clock;
    struct Burst {
        Clock::time_point start;
        int pulses = 0;  // in this burst, those counted included
        int counted = 0; // pulses that have closed the input by the last advance
    };
    void advanceCounters();
    // Discrete input `index` (0-based) as the line shows it now: a burst's pulse inverts it.
    bool inputNow(std::size_t index, Clock::time_point now) const;

    std::array<bool, CoilItems> m_coils{};
    std::array<bool, InputItems> m_inputs{};
    std::array<uint16_t, InputRegisterItems> m_inputRegisters{};
    std::array<uint16_t, HoldingItems> m_holding{};
    uint16_t m_parity = 0;
    std::array<double, Counters> m_pulseRate{};
    std::array<double, Counters> m_pulseFraction{};
    std::array<Burst, Counters> m_bursts{};
    Clock::time_point m_lastAdvance;
};

// A Modbus RTU request as the module reads it (ModuleRequest.cpp).

// The module's reply (without CRC) to one request whose CRC checked, carried out on `state`, and the
// request's log line ("read-coils 1 16", "write-coil 3 1 exception 2"). Items are reference numbers unless
// `protocolAddressing`.
void answerRequest(ModuleState &state, const uint8_t *request, int length, bool protocolAddressing,
                   std::vector<uint8_t> &reply, std::string &log);

// The length of a request frame as its header gives it, for a frame that libmodbus read but did not accept
// (bad CRC, another station): what libmodbus reads for it, at most `available`.
int requestFrameLength(const uint8_t *frame, int available);
