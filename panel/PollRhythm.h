#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <optional>

// The period of a poll over its last ten rounds, from the times its rounds started (milliseconds on any
// steady clock). A tick skipped because its poll was still out starts no round.
class PollRhythm {
public:
    static constexpr int Rounds = 10;

    void roundStarted(int64_t ms) {
        m_starts.push_back(ms);
        if (m_starts.size() > Rounds + 1)
            m_starts.pop_front();
    }
    void reset() { m_starts.clear(); }
    // Seconds; none until two rounds have started.
    std::optional<double> periodSeconds() const {
        if (m_starts.size() < 2)
            return std::nullopt;
        return static_cast<double>(m_starts.back() - m_starts.front()) / 1000.0 /
               static_cast<double>(m_starts.size() - 1);
    }

private:
    std::deque<int64_t> m_starts;
};

// The line the link status's tooltip ends with while either poll runs slower than 0.6 s a round, else empty:
// "轮询周期：输入输出 1.3 s，计数 2.6 s".
inline QString pollPeriodLine(std::optional<double> ioSeconds, std::optional<double> counterSeconds) {
    constexpr double Slow = 0.6;
    if (!(ioSeconds.value_or(0) > Slow || counterSeconds.value_or(0) > Slow))
        return {};
    const auto seconds = [](std::optional<double> s) {
        return s ? QString::number(*s, 'f', 1) + QStringLiteral(" s") : QStringLiteral("—");
    };
    return QStringLiteral("轮询周期：输入输出 %1，计数 %2").arg(seconds(ioSeconds), seconds(counterSeconds));
}
