#pragma once

#include "Line.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// A line and its clock for ModbusPort, without a device or real time: bytes come in at scripted times, and a
// read that waits for them moves the clock to their arrival, or to its deadline when none come by then.
// Opening it opens nothing.
class ScriptedLine : public Device, public LineClock {
public:
    using Clock = std::chrono::steady_clock;

    // Sees each request as it is written, at now(), and may put bytes on the line with arrive().
    std::function<void(const std::vector<uint8_t> &request)> onRequest;

    ScriptedLine()
        : m_now(Clock::time_point{} + std::chrono::hours(1)) {}

    // `bytes` are all there at `at`; a read takes them in order of arrival, at most as many as it asks for.
    void arrive(Clock::time_point at, std::vector<uint8_t> bytes) {
        if (bytes.empty())
            return;
        const auto later = std::upper_bound(m_chunks.begin(), m_chunks.end(), at,
                                            [](Clock::time_point t, const Chunk &c) { return t < c.at; });
        m_chunks.insert(later, Chunk{at, std::move(bytes)});
    }
    void advance(Clock::duration by) { m_now += by; }
    // The next read fails as a device pulled out does; the port opens it again on its next call.
    void failOnce() { m_failNext = true; }
    bool quiet() const { return m_chunks.empty(); }

    Clock::time_point now() const override { return m_now; }
    void sleepUntil(Clock::time_point until) override { m_now = std::max(m_now, until); }
    bool write(const uint8_t *data, std::size_t size) override {
        if (onRequest)
            onRequest(std::vector<uint8_t>(data, data + size));
        return true;
    }
    int read(uint8_t *buffer, std::size_t size, Clock::time_point until) override {
        if (m_failNext) {
            m_failNext = false;
            m_chunks.clear();
            return -1;
        }
        if (m_chunks.empty() || m_chunks.front().at > until) {
            m_now = std::max(m_now, until);
            return 0;
        }
        Chunk &chunk = m_chunks.front();
        m_now = std::max(m_now, chunk.at);
        const std::size_t taken = std::min(size, chunk.bytes.size());
        std::copy_n(chunk.bytes.begin(), taken, buffer);
        chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        if (chunk.bytes.empty())
            m_chunks.pop_front();
        return static_cast<int>(taken);
    }
    bool hungUp() const override { return false; }
    OpenResult open(const std::string &, int, char, OpenFor) override { return {}; }
    void close() override {}
    bool present(const std::string &) const override { return true; }

private:
    struct Chunk {
        Clock::time_point at;
        std::vector<uint8_t> bytes;
    };
    Clock::time_point m_now;
    std::deque<Chunk> m_chunks;
    bool m_failNext = false;
};
