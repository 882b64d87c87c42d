#include "CountingModbus485.h"

#include "ModuleMap.h"

int64_t CountingModbus485::callsOf(const QString &operation) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_callsOf.find(operation);
    return it == m_callsOf.end() ? 0 : it->second;
}

int32_t CountingModbus485::call(const QString &operation, std::initializer_list<int32_t> args,
                                std::span<int32_t>, const Pass &pass) {
    const int32_t result = pass(m_target);
    const std::lock_guard lock(m_mutex);
    ++m_calls;
    ++m_callsOf[operation];
    // A port operation (OpenPort_, ClosePort_, GetPort_, SetPort_) fails with any non-zero code, an exchange
    // with Failed.
    if (operation.contains(u"Port_") ? result != 0 : result == ModuleMap::Failed)
        ++m_failures;
    if (recording)
        recorded << callText(operation, args);
    if (afterCall)
        afterCall(operation);
    return result;
}
