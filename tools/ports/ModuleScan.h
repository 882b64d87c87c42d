#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

// Looks for the module on one port: every station of the window's list at each baud rate and parity, one
// input-block read each with a short turnaround, until something answers (an exception reply counts). When
// anything comes back at a setting after that short deadline, the stations just asked are asked again with
// the longest turnaround, so a slow module is found too.
class ModuleScan {
public:
    struct Found {
        int32_t station = 0;
        int32_t baudCode = 0;   // MODBUS485's codes: 0/1/2 = 4800/9600/19200
        int32_t parityCode = 0; // 0/1/2 = none/odd/even
        int32_t answerUs = 0;   // how long the module took to answer, request and answer on the wire included
    };
    enum class Result { Found, NothingAnswered, CannotOpen, Interrupted };

    static constexpr int32_t FirstStation = 1;
    static constexpr int32_t LastStation = 16;
    // Enough for a quick module and a USB adapter's 16 ms latency timer; a silent line then costs under 10 s.
    // Whatever comes back later is noticed and its station asked again with SlowTurnaroundMs.
    static constexpr int32_t TurnaroundMs = 20;
    static constexpr int32_t SlowTurnaroundMs = 1000;

    // `stop` is set by a signal handler; the scan checks it between reads.
    ModuleScan(int32_t port, const volatile std::sig_atomic_t &stop);

    // Told before each line setting is tried, for a progress line.
    std::function<void(int32_t baudCode, int32_t parityCode, int32_t station)> onProgress;

    Result run();
    const Found &found() const { return m_found; }
    // Why the port could not be opened, in the library's words.
    const std::string &openError() const { return m_openError; }

    static int baudRate(int32_t baudCode);
    // The window's caption of a parity code: 无校验, 奇校验, 偶校验.
    static const char *parityCaption(int32_t parityCode);

private:
    // True when `station` answers at the line settings the port is open with.
    bool answers(int32_t station);
    // Bytes that came back at this setting without a good answer, so far: late, garbled or stray.
    int64_t somethingCameBack();

    int32_t m_port;
    const volatile std::sig_atomic_t &m_stop;
    Found m_found;
    std::string m_openError;
};
