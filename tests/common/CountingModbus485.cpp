#include "CountingModbus485.h"

#include "CallText.h"

int64_t CountingModbus485::callsOf(const QString &operation) const {
    const auto it = m_callsOf.find(operation);
    return it == m_callsOf.end() ? 0 : it->second;
}

int32_t CountingModbus485::account(const QString &operation, std::initializer_list<int32_t> args, Kind kind,
                                   int32_t result) {
    ++m_calls;
    ++m_callsOf[operation];
    if (kind == Kind::Port ? result != 0 : result == -8888)
        ++m_failures;
    if (recording)
        recorded << callText(operation, args);
    if (afterCall)
        afterCall(operation);
    return result;
}

int32_t CountingModbus485::OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) {
    return account(QStringLiteral("OpenPort_Modbus"), {port, baudCode, parityCode}, Kind::Port,
                   m_target.OpenPort_Modbus(port, baudCode, parityCode));
}
int32_t CountingModbus485::ClosePort_Modbus(int32_t port) {
    return account(QStringLiteral("ClosePort_Modbus"), {port}, Kind::Port, m_target.ClosePort_Modbus(port));
}
int32_t CountingModbus485::GetPort_Status(int32_t port) {
    return account(QStringLiteral("GetPort_Status"), {port}, Kind::Port, m_target.GetPort_Status(port));
}
int32_t CountingModbus485::Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    return account(QStringLiteral("Set_0X_Bit1"), {port, station, coil}, Kind::Exchange,
                   m_target.Set_0X_Bit1(port, station, coil));
}
int32_t CountingModbus485::Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    return account(QStringLiteral("Rst_0X_Bit1"), {port, station, coil}, Kind::Exchange,
                   m_target.Rst_0X_Bit1(port, station, coil));
}
int32_t CountingModbus485::Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) {
    return account(QStringLiteral("Get_0X_B16"), {port, station, start}, Kind::Exchange,
                   m_target.Get_0X_B16(port, station, start, elements));
}
int32_t CountingModbus485::Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) {
    return account(QStringLiteral("Get_1X_B16"), {port, station, start}, Kind::Exchange,
                   m_target.Get_1X_B16(port, station, start, elements));
}
int32_t CountingModbus485::Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) {
    return account(QStringLiteral("Get_3X_UnD8"), {port, station, start}, Kind::Exchange,
                   m_target.Get_3X_UnD8(port, station, start, elements));
}
int32_t CountingModbus485::Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) {
    return account(QStringLiteral("Get_4X_UnD8"), {port, station, start}, Kind::Exchange,
                   m_target.Get_4X_UnD8(port, station, start, elements));
}
int32_t CountingModbus485::Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) {
    return account(QStringLiteral("Get_4X_UnD1"), {port, station, reg}, Kind::Exchange,
                   m_target.Get_4X_UnD1(port, station, reg));
}
int32_t CountingModbus485::Get_4X_D1(int32_t port, int32_t station, int32_t reg) {
    return account(QStringLiteral("Get_4X_D1"), {port, station, reg}, Kind::Exchange,
                   m_target.Get_4X_D1(port, station, reg));
}
int32_t CountingModbus485::Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) {
    return account(QStringLiteral("Set_4X_D1"), {port, station, reg, value}, Kind::Exchange,
                   m_target.Set_4X_D1(port, station, reg, value));
}
