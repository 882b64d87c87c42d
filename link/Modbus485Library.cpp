#include "Modbus485Library.h"

#include "LinkError.h"
#include "MODBUS485.h"

#include <QCoreApplication>
#include <QDir>

namespace {
// Slots of the resolved entry points, one per operation.
enum Entry {
    OpenPort,
    ClosePort,
    PortStatus,
    SetCoil,
    ResetCoil,
    CoilBlock,
    InputBlock,
    InputRegisterBlock,
    HoldingRegisterBlock,
    UnsignedHoldingRegister,
    SignedHoldingRegister,
    WriteHoldingRegister,
    PortInfo,
    PortCounters,
    PortLastRead,
    PortTurnaround,
    PortTrace,
    EntryCount
};
} // namespace

Modbus485Library::Modbus485Library(QString libraryName)
    : m_libraryName(std::move(libraryName))
    , m_entries(new std::atomic<QFunctionPointer>[EntryCount]()) {}

Modbus485Library::~Modbus485Library() = default;

QFunctionPointer Modbus485Library::entry(int index, const char *name) {
    if (QFunctionPointer resolved = m_entries[index].load(std::memory_order_acquire))
        return resolved;
    const std::lock_guard lock(m_binding);
    if (!m_library.isLoaded()) {
        // The program's own folder first, then the system's library path.
        if (QCoreApplication::instance()) {
            m_library.setFileName(QDir(QCoreApplication::applicationDirPath()).filePath(m_libraryName));
            m_library.load();
        }
        if (!m_library.isLoaded()) {
            m_library.setFileName(m_libraryName);
            if (!m_library.load())
                throw LinkError(
                    ("cannot load " + m_libraryName + ": " + m_library.errorString()).toStdString());
        }
    }
    QFunctionPointer resolved = m_library.resolve(name);
    if (!resolved)
        throw LinkError(std::string("no entry point ") + name + " in " + m_libraryName.toStdString());
    m_entries[index].store(resolved, std::memory_order_release);
    return resolved;
}

int32_t Modbus485Library::OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) {
    return function<decltype(::OpenPort_Modbus)>(OpenPort, "OpenPort_Modbus")(port, baudCode, parityCode);
}

int32_t Modbus485Library::ClosePort_Modbus(int32_t port) {
    return function<decltype(::ClosePort_Modbus)>(ClosePort, "ClosePort_Modbus")(port);
}

int32_t Modbus485Library::GetPort_Status(int32_t port) {
    return function<decltype(::GetPort_Status)>(PortStatus, "GetPort_Status")(port);
}

int32_t Modbus485Library::Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    return function<decltype(::Set_0X_Bit1)>(SetCoil, "Set_0X_Bit1")(port, station, coil);
}

int32_t Modbus485Library::Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) {
    return function<decltype(::Rst_0X_Bit1)>(ResetCoil, "Rst_0X_Bit1")(port, station, coil);
}

int32_t Modbus485Library::Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) {
    return function<decltype(::Get_0X_B16)>(CoilBlock, "Get_0X_B16")(port, station, start, elements.data());
}

int32_t Modbus485Library::Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) {
    return function<decltype(::Get_1X_B16)>(InputBlock, "Get_1X_B16")(port, station, start, elements.data());
}

int32_t Modbus485Library::Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) {
    return function<decltype(::Get_3X_UnD8)>(InputRegisterBlock, "Get_3X_UnD8")(port, station, start,
                                                                                elements.data());
}

int32_t Modbus485Library::Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) {
    return function<decltype(::Get_4X_UnD8)>(HoldingRegisterBlock, "Get_4X_UnD8")(port, station, start,
                                                                                  elements.data());
}

int32_t Modbus485Library::Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) {
    return function<decltype(::Get_4X_UnD1)>(UnsignedHoldingRegister, "Get_4X_UnD1")(port, station, reg);
}

int32_t Modbus485Library::Get_4X_D1(int32_t port, int32_t station, int32_t reg) {
    return function<decltype(::Get_4X_D1)>(SignedHoldingRegister, "Get_4X_D1")(port, station, reg);
}

int32_t Modbus485Library::Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) {
    return function<decltype(::Set_4X_D1)>(WriteHoldingRegister, "Set_4X_D1")(port, station, reg, value);
}

int32_t Modbus485Library::GetPort_Info(int32_t port, char *buffer, int32_t size) {
    return function<decltype(::GetPort_Info)>(PortInfo, "GetPort_Info")(port, buffer, size);
}

int32_t Modbus485Library::GetPort_Counters(int32_t port, int32_t *values, int32_t count) {
    return function<decltype(::GetPort_Counters)>(PortCounters, "GetPort_Counters")(port, values, count);
}

int32_t Modbus485Library::GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start,
                                           int32_t *values, int32_t count) {
    return this->function<decltype(::GetPort_LastRead)>(PortLastRead, "GetPort_LastRead")(
        port, station, function, start, values, count);
}

int32_t Modbus485Library::SetPort_Turnaround(int32_t port, int32_t milliseconds) {
    return function<decltype(::SetPort_Turnaround)>(PortTurnaround, "SetPort_Turnaround")(port, milliseconds);
}

int32_t Modbus485Library::SetPort_Trace(int32_t port, const QString &path) {
    return function<decltype(::SetPort_Trace)>(PortTrace, "SetPort_Trace")(port, path.toUtf8().constData());
}
