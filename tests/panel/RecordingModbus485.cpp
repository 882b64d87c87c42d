#include "RecordingModbus485.h"

#include "LinkError.h"

#include <algorithm>

void RecordingModbus485::scriptResults(const QString &operation, std::vector<int32_t> results) {
    auto &queue = m_results[operation];
    queue.insert(queue.end(), results.begin(), results.end());
}

void RecordingModbus485::scriptBlock(const QString &operation, std::vector<int32_t> elements) {
    m_blocks[operation].push_back(std::move(elements));
}

QStringList RecordingModbus485::callsOf(const QString &operation) const {
    QStringList found;
    for (const QString &c : calls)
        if (c.startsWith(operation + u'('))
            found << c;
    return found;
}

int32_t RecordingModbus485::call(const QString &operation, std::initializer_list<int32_t> args,
                                 std::span<int32_t> elements, const Pass &) {
    if (libraryMissing)
        throw LinkError("MODBUS485 missing");
    const QString record = callText(operation, args);
    calls << record;

    if (!elements.empty()) {
        const std::vector<int32_t> *block = nullptr;
        std::vector<int32_t> next;
        if (auto it = m_blocks.find(operation); it != m_blocks.end() && !it->second.empty()) {
            next = std::move(it->second.front());
            it->second.pop_front();
            block = &next;
        } else if (auto standing = m_standingBlocks.find(operation); standing != m_standingBlocks.end()) {
            block = &standing->second;
        }
        if (block)
            std::copy_n(block->begin(), std::min(block->size(), elements.size()), elements.begin());
    }

    int32_t result = 0;
    if (auto it = m_results.find(operation); it != m_results.end() && !it->second.empty()) {
        result = it->second.front();
        it->second.pop_front();
    } else if (auto standing = m_standingResults.find(operation); standing != m_standingResults.end()) {
        result = standing->second;
    }
    if (onCall)
        onCall(record);
    return result;
}

int32_t RecordingModbus485::diagnostic(const QString &operation, std::initializer_list<int32_t> args,
                                       const std::vector<int32_t> &source, int32_t *values, int32_t count) {
    if (diagnosticsMissing)
        throw LinkError("no entry point " + operation.toStdString());
    call(operation, args, {}, {});
    for (int32_t i = 0; i < count; ++i)
        values[i] = static_cast<std::size_t>(i) < source.size() ? source[i] : 0;
    return count;
}
int32_t RecordingModbus485::GetPort_Info(int32_t port, char *buffer, int32_t size) {
    if (diagnosticsMissing)
        throw LinkError("no entry point GetPort_Info");
    call(QStringLiteral("GetPort_Info"), {port}, {}, {});
    const int32_t length = std::min<int32_t>(static_cast<int32_t>(info.size()), size - 1);
    std::copy_n(info.constData(), length, buffer);
    buffer[length] = '\0';
    return length;
}
int32_t RecordingModbus485::GetPort_Counters(int32_t port, int32_t *values, int32_t count) {
    return diagnostic(QStringLiteral("GetPort_Counters"), {port}, counters, values, count);
}
int32_t RecordingModbus485::GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start,
                                             int32_t *values, int32_t count) {
    return diagnostic(QStringLiteral("GetPort_LastRead"), {port, station, function, start}, lastRead, values,
                      count);
}
