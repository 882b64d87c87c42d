#pragma once

#include "ExchangeLink.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

// An ExchangeLink with a thread of its own: units are made there, one at a time, through the same
// Modbus485, operator requests ahead of poll units not yet started. After each unit it keeps a copy of the
// port's info, counters and the last outcome of every read the unit made, so that a tooltip never calls
// the library on the window's thread. Destroying it stops it and waits for the unit on the line.
class ThreadedLink : public ExchangeLink {
public:
    explicit ThreadedLink(Modbus485 &library);
    ~ThreadedLink() override;
    ThreadedLink(const ThreadedLink &) = delete;
    ThreadedLink &operator=(const ThreadedLink &) = delete;

    AskId post(Priority priority, int32_t port, Unit unit, QObject *context, Done done) override;
    bool drop(AskId id) override;
    void stop() override;
    bool isInline() const override { return false; }

    int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) override;
    int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) override;
    int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start, int32_t *values,
                             int32_t count) override;

private:
    struct Job {
        AskId id = 0;
        int32_t port = 0;
        Unit unit;
        QPointer<QObject> context;
        Done done;
    };
    // (station, function, start) of a read.
    using ReadKey = std::tuple<int32_t, int32_t, int32_t>;
    struct PortCopy {
        QByteArray info;
        std::vector<int32_t> counters;
        std::map<ReadKey, std::vector<int32_t>> lastReads;
    };

    void run();
    // Asks the library for the port's diagnostics after a unit, outside every lock but the copy's.
    void copyDiagnostics(int32_t port, const std::vector<ReadKey> &madeNow);

    Modbus485 &m_library;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_operatorJobs;
    std::deque<Job> m_pollJobs;
    AskId m_lastId = 0;
    bool m_stopping = false;

    mutable std::mutex m_copyMutex;
    std::map<int32_t, PortCopy> m_copies;

    std::thread m_thread; // last, so that it starts after everything it uses
};
