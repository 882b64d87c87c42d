#include "ModuleScan.h"

#include "LineCodes.h"
#include "MODBUS485.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

namespace {

using namespace modbus485;

// The order in which line settings are tried: the window's default baud rate first.
constexpr std::array<int32_t, BaudCodes> BaudOrder{1, 2, 0};
constexpr std::array<int32_t, ParityCodes> ParityOrder{ParityNone, ParityOdd, ParityEven};
constexpr int32_t FirstInput = 1;

} // namespace

ModuleScan::ModuleScan(int32_t port, const volatile std::sig_atomic_t &stop)
    : m_port(port)
    , m_stop(stop) {}

int ModuleScan::baudRate(int32_t baudCode) {
    return BaudRates[baudCode];
}

const char *ModuleScan::parityCaption(int32_t parityCode) {
    return parityCode == ParityNone ? "无校验" : parityCode == ParityOdd ? "奇校验" : "偶校验";
}

ModuleScan::Result ModuleScan::run() {
    for (const int32_t baud : BaudOrder) {
        for (const int32_t parity : ParityOrder) {
            if (OpenPort_Modbus(m_port, baud, parity) != MODBUS485_OPEN_OK) {
                std::array<char, 512> reason{};
                GetPort_Info(m_port, reason.data(), static_cast<int32_t>(reason.size()));
                m_openError = reason.data();
                ClosePort_Modbus(m_port);
                return Result::CannotOpen;
            }
            SetPort_Turnaround(m_port, TurnaroundMs);
            int64_t seen = somethingCameBack();
            int32_t askedSlowly = FirstStation - 1; // the last station asked again slowly
            for (int32_t station = FirstStation; station <= LastStation; ++station) {
                if (m_stop) {
                    ClosePort_Modbus(m_port);
                    return Result::Interrupted;
                }
                if (onProgress)
                    onProgress(baud, parity, station);
                bool found = answers(station);
                if (!found && somethingCameBack() != seen) {
                    // Something answered after the short deadline; a late answer can show up several probes
                    // later, so every station asked since the last such look is asked again.
                    SetPort_Turnaround(m_port, SlowTurnaroundMs);
                    for (int32_t again = askedSlowly + 1; again <= station && !found && !m_stop; ++again) {
                        found = answers(again);
                        if (found)
                            station = again;
                    }
                    askedSlowly = station;
                    SetPort_Turnaround(m_port, TurnaroundMs);
                    seen = somethingCameBack();
                }
                if (found) {
                    std::array<int32_t, MODBUS485_LASTREAD_VALUES> last{};
                    GetPort_LastRead(m_port, station, ReadInputs, FirstInput, last.data(),
                                     MODBUS485_LASTREAD_VALUES);
                    m_found = {station, baud, parity, last[MODBUS485_LASTREAD_RTT_US]};
                    ClosePort_Modbus(m_port);
                    return Result::Found;
                }
            }
        }
    }
    ClosePort_Modbus(m_port);
    return Result::NothingAnswered;
}

int64_t ModuleScan::somethingCameBack() {
    std::array<int32_t, MODBUS485_COUNTERS> counters{};
    GetPort_Counters(m_port, counters.data(), MODBUS485_COUNTERS);
    int64_t sum = 0;
    for (const int counter :
         {MODBUS485_COUNTER_GARBLED, MODBUS485_COUNTER_WRONG_STATION, MODBUS485_COUNTER_STRAY,
          MODBUS485_COUNTER_LATE, MODBUS485_COUNTER_CUT_SHORT, MODBUS485_COUNTER_MISMATCHED})
        sum += counters[static_cast<std::size_t>(counter)];
    return sum;
}

bool ModuleScan::answers(int32_t station) {
    std::array<int32_t, 2> inputs{};
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Get_1X_B16(m_port, station, FirstInput, inputs.data()) != MODBUS485_FAILED)
            return true;
        std::array<int32_t, MODBUS485_LASTREAD_VALUES> last{};
        if (GetPort_LastRead(m_port, station, ReadInputs, FirstInput, last.data(),
                             MODBUS485_LASTREAD_VALUES) <= MODBUS485_LASTREAD_OUTCOME)
            return false;
        const int32_t outcome = last[MODBUS485_LASTREAD_OUTCOME];
        if (outcome == MODBUS485_OUTCOME_EXCEPTION)
            return true; // a module that refuses is a module that heard us
        if (outcome != MODBUS485_OUTCOME_DEMOTED)
            return false;
        // Refused without asking: the station was silent a moment ago. Ask again once that has passed.
        std::this_thread::sleep_for(std::chrono::milliseconds(MODBUS485_DEMOTION_MS));
    }
    return false;
}
