#include "ModuleScan.h"

#include "MODBUS485.h"

#include <array>
#include <chrono>
#include <thread>

namespace {

// The order in which line settings are tried: the window's default baud rate first.
constexpr std::array<int32_t, 3> BaudCodes{1, 2, 0};
constexpr std::array<int32_t, 3> ParityCodes{0, 1, 2};
constexpr int32_t ReadInputs = 2;
constexpr int32_t FirstInput = 1;

} // namespace

ModuleScan::ModuleScan(int32_t port, const volatile std::sig_atomic_t &stop)
    : m_port(port)
    , m_stop(stop) {}

int ModuleScan::baudRate(int32_t baudCode) {
    return baudCode == 0 ? 4800 : baudCode == 1 ? 9600 : 19200;
}

const char *ModuleScan::parityCaption(int32_t parityCode) {
    return parityCode == 0 ? "无校验" : parityCode == 1 ? "奇校验" : "偶校验";
}

ModuleScan::Result ModuleScan::run() {
    for (const int32_t baud : BaudCodes) {
        for (const int32_t parity : ParityCodes) {
            if (OpenPort_Modbus(m_port, baud, parity) != MODBUS485_OPEN_OK) {
                std::array<char, 512> reason{};
                GetPort_Info(m_port, reason.data(), static_cast<int32_t>(reason.size()));
                m_openError = reason.data();
                ClosePort_Modbus(m_port);
                return Result::CannotOpen;
            }
            SetPort_Turnaround(m_port, TurnaroundMs);
            for (int32_t station = FirstStation; station <= LastStation; ++station) {
                if (m_stop) {
                    ClosePort_Modbus(m_port);
                    return Result::Interrupted;
                }
                if (onProgress)
                    onProgress(baud, parity, station);
                if (answers(station)) {
                    m_found = {station, baud, parity};
                    ClosePort_Modbus(m_port);
                    return Result::Found;
                }
            }
        }
    }
    ClosePort_Modbus(m_port);
    return Result::NothingAnswered;
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
