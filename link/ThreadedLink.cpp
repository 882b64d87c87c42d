#include "ThreadedLink.h"

#include "LineCodes.h"
#include "MODBUS485.h"
#include "RuntimeError.h"

#include <QMetaObject>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The library as a unit sees it: every call goes through, and each read is noted so that its last outcome
// can be copied afterwards.
class NotingModbus485 : public Modbus485 {
public:
    using Read = std::tuple<int32_t, int32_t, int32_t>;

    explicit NotingModbus485(Modbus485 &library)
        : m_library(library) {}

    std::vector<Read> reads;

    int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) override {
        return m_library.OpenPort_Modbus(port, baudCode, parityCode);
    }
    int32_t ClosePort_Modbus(int32_t port) override { return m_library.ClosePort_Modbus(port); }
    int32_t GetPort_Status(int32_t port) override { return m_library.GetPort_Status(port); }
    int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return m_library.Set_0X_Bit1(port, station, coil);
    }
    int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) override {
        return m_library.Rst_0X_Bit1(port, station, coil);
    }
    int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        note(station, modbus485::ReadCoils, start);
        return m_library.Get_0X_B16(port, station, start, elements);
    }
    int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override {
        note(station, modbus485::ReadInputs, start);
        return m_library.Get_1X_B16(port, station, start, elements);
    }
    int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        note(station, modbus485::ReadInputRegisters, start);
        return m_library.Get_3X_UnD8(port, station, start, elements);
    }
    int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override {
        note(station, modbus485::ReadHoldingRegisters, start);
        return m_library.Get_4X_UnD8(port, station, start, elements);
    }
    int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) override {
        note(station, modbus485::ReadHoldingRegisters, reg);
        return m_library.Get_4X_UnD1(port, station, reg);
    }
    int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) override {
        note(station, modbus485::ReadHoldingRegisters, reg);
        return m_library.Get_4X_D1(port, station, reg);
    }
    int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) override {
        return m_library.Set_4X_D1(port, station, reg, value);
    }
    int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) override {
        return m_library.GetPort_Info(port, buffer, size);
    }
    int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) override {
        return m_library.GetPort_Counters(port, values, count);
    }
    int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start, int32_t *values,
                             int32_t count) override {
        return m_library.GetPort_LastRead(port, station, function, start, values, count);
    }
    int32_t SetPort_Turnaround(int32_t port, int32_t milliseconds) override {
        return m_library.SetPort_Turnaround(port, milliseconds);
    }
    int32_t SetPort_Trace(int32_t port, const QString &path) override {
        return m_library.SetPort_Trace(port, path);
    }

private:
    void note(int32_t station, int32_t function, int32_t start) {
        const Read read{station, function, start};
        if (std::find(reads.begin(), reads.end(), read) == reads.end())
            reads.push_back(read);
    }

    Modbus485 &m_library;
};

} // namespace

ThreadedLink::ThreadedLink(Modbus485 &library)
    : m_library(library)
    , m_thread([this] { run(); }) {}

ThreadedLink::~ThreadedLink() {
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

ExchangeLink::AskId ThreadedLink::post(Priority priority, int32_t port, Unit unit, QObject *context,
                                       Done done) {
    const std::lock_guard lock(m_mutex);
    if (m_stopping)
        return 0;
    Job job{++m_lastId, port, std::move(unit), QPointer<QObject>(context), std::move(done)};
    (priority == Priority::Operator ? m_operatorJobs : m_pollJobs).push_back(std::move(job));
    m_wake.notify_one();
    return m_lastId;
}

bool ThreadedLink::drop(AskId id) {
    const std::lock_guard lock(m_mutex);
    for (std::deque<Job> *jobs : {&m_operatorJobs, &m_pollJobs}) {
        const auto found =
            std::find_if(jobs->begin(), jobs->end(), [id](const Job &j) { return j.id == id; });
        if (found != jobs->end()) {
            jobs->erase(found);
            return true;
        }
    }
    return false;
}

void ThreadedLink::stop() {
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_operatorJobs.clear();
    m_pollJobs.clear();
    m_wake.notify_one();
}

void ThreadedLink::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock,
                        [this] { return m_stopping || !m_operatorJobs.empty() || !m_pollJobs.empty(); });
            if (m_stopping)
                return;
            std::deque<Job> &jobs = m_operatorJobs.empty() ? m_pollJobs : m_operatorJobs;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        NotingModbus485 library(m_library);
        try {
            job.unit(library);
        } catch (...) {
            // A unit keeps its own statements' errors; anything else it let through ends only that unit.
        }
        copyDiagnostics(job.port, library.reads);
        const std::lock_guard lock(m_mutex);
        // After stop nothing more is delivered: the window that asked may be ending.
        if (!m_stopping && job.done && job.context)
            QMetaObject::invokeMethod(job.context.data(), std::move(job.done), Qt::QueuedConnection);
    }
}

void ThreadedLink::copyDiagnostics(int32_t port, const std::vector<ReadKey> &madeNow) {
    // Every read ever copied for the port is asked again, so a close or a re-plug shows in all of them.
    std::vector<ReadKey> reads = madeNow;
    {
        const std::lock_guard lock(m_copyMutex);
        if (const auto found = m_copies.find(port); found != m_copies.end())
            for (const auto &entry : found->second.lastReads)
                if (std::find(reads.begin(), reads.end(), entry.first) == reads.end())
                    reads.push_back(entry.first);
    }
    // A library without the diagnostic entry points raises LinkError: the copy then stays empty.
    PortCopy fresh;
    try {
        std::array<char, 1024> buffer{};
        const int32_t length =
            m_library.GetPort_Info(port, buffer.data(), static_cast<int32_t>(buffer.size()));
        if (length > 0)
            fresh.info = QByteArray(buffer.data(), std::min<int32_t>(length, buffer.size() - 1));
    } catch (const RuntimeError &) {
    }
    try {
        std::vector<int32_t> counters(MODBUS485_COUNTERS);
        const int32_t filled = m_library.GetPort_Counters(port, counters.data(), MODBUS485_COUNTERS);
        if (filled > 0) {
            counters.resize(static_cast<std::size_t>(std::min(filled, MODBUS485_COUNTERS)));
            fresh.counters = std::move(counters);
        }
    } catch (const RuntimeError &) {
    }
    std::map<ReadKey, std::vector<int32_t>> lastReads;
    for (const ReadKey &read : reads) {
        try {
            std::vector<int32_t> values(MODBUS485_LASTREAD_VALUES);
            const int32_t filled =
                m_library.GetPort_LastRead(port, std::get<0>(read), std::get<1>(read), std::get<2>(read),
                                           values.data(), MODBUS485_LASTREAD_VALUES);
            if (filled > 0)
                values.resize(static_cast<std::size_t>(std::min(filled, MODBUS485_LASTREAD_VALUES)));
            else
                values.clear();
            lastReads[read] = std::move(values);
        } catch (const RuntimeError &) {
        }
    }
    const std::lock_guard lock(m_copyMutex);
    PortCopy &copy = m_copies[port];
    copy.info = std::move(fresh.info);
    copy.counters = std::move(fresh.counters);
    for (auto &[key, values] : lastReads)
        copy.lastReads[key] = std::move(values);
}

int32_t ThreadedLink::GetPort_Info(int32_t port, char *buffer, int32_t size) {
    if (!buffer || size <= 0)
        return 0;
    const std::lock_guard lock(m_copyMutex);
    const auto found = m_copies.find(port);
    if (found == m_copies.end() || found->second.info.isEmpty()) {
        buffer[0] = '\0';
        return 0;
    }
    const QByteArray &info = found->second.info;
    const int32_t length = std::min<int32_t>(static_cast<int32_t>(info.size()), size - 1);
    std::memcpy(buffer, info.constData(), static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return static_cast<int32_t>(info.size());
}

int32_t ThreadedLink::GetPort_Counters(int32_t port, int32_t *values, int32_t count) {
    const std::lock_guard lock(m_copyMutex);
    const auto found = m_copies.find(port);
    if (found == m_copies.end() || found->second.counters.empty() || !values || count <= 0)
        return 0;
    const std::vector<int32_t> &counters = found->second.counters;
    const int32_t filled = std::min<int32_t>(count, static_cast<int32_t>(counters.size()));
    std::copy_n(counters.begin(), filled, values);
    return filled;
}

int32_t ThreadedLink::GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start,
                                       int32_t *values, int32_t count) {
    const std::lock_guard lock(m_copyMutex);
    const auto found = m_copies.find(port);
    if (found == m_copies.end() || !values || count <= 0)
        return 0;
    const auto read = found->second.lastReads.find({station, function, start});
    if (read == found->second.lastReads.end() || read->second.empty())
        return 0;
    const int32_t filled = std::min<int32_t>(count, static_cast<int32_t>(read->second.size()));
    std::copy_n(read->second.begin(), filled, values);
    return filled;
}
