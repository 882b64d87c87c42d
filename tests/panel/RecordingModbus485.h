#pragma once

#include "CallingModbus485.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <span>
#include <vector>

// A Modbus485 that records every call as "Name(arg,arg,...)" (a block read's receiving area left out),
// returns scripted results and fills block reads with scripted contents. In "library missing" mode every
// call raises LinkError, as the loader does when MODBUS485 cannot be found; in "diagnostics missing" mode
// only the diagnostic entry points do, as with a library that predates them.
class RecordingModbus485 : public CallingModbus485 {
public:
    // The calls so far, in order.
    QStringList calls;
    bool libraryMissing = false;
    bool diagnosticsMissing = false;
    // What the diagnostic entry points hand back: GetPort_Info's text, GetPort_Counters' and
    // GetPort_LastRead's values (as many as the caller asks for, zeros past the end).
    QByteArray info;
    std::vector<int32_t> counters;
    std::vector<int32_t> lastRead;
    // Runs after a call has been recorded, before it returns: lets a test act in the middle of a handler.
    std::function<void(const QString &call)> onCall;

    // Results of the next calls of an operation, in order; when the queue is empty it returns 0.
    void scriptResults(const QString &operation, std::vector<int32_t> results);
    // Elements a block read writes at its next calls, in order; when the queue is empty it writes nothing.
    void scriptBlock(const QString &operation, std::vector<int32_t> elements);
    // Results and block contents returned on every call once their queues are empty.
    void setResult(const QString &operation, int32_t result) { m_standingResults[operation] = result; }
    void setBlock(const QString &operation, std::vector<int32_t> elements) {
        m_standingBlocks[operation] = std::move(elements);
    }

    // The recorded calls of one operation.
    QStringList callsOf(const QString &operation) const;

    int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) override;
    int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) override;
    int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start, int32_t *values,
                             int32_t count) override;

protected:
    int32_t call(const QString &operation, std::initializer_list<int32_t> args, std::span<int32_t> elements,
                 const Pass &pass) override;

private:
    int32_t diagnostic(const QString &operation, std::initializer_list<int32_t> args,
                       const std::vector<int32_t> &source, int32_t *values, int32_t count);

    std::map<QString, std::deque<int32_t>> m_results;
    std::map<QString, std::deque<std::vector<int32_t>>> m_blocks;
    std::map<QString, int32_t> m_standingResults;
    std::map<QString, std::vector<int32_t>> m_standingBlocks;
};
