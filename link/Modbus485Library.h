#pragma once

#include "Modbus485.h"

#include <QLibrary>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

// Modbus485 on the real MODBUS485 shared library, loaded by name at the first call of any operation:
// from the program's own folder first, then the system's library path. Each entry point is resolved at its
// first use. A missing library or entry point raises LinkError in that call; the next call tries again.
class Modbus485Library : public Modbus485 {
public:
    explicit Modbus485Library(QString libraryName = QStringLiteral("MODBUS485"));
    ~Modbus485Library() override;

    int32_t OpenPort_Modbus(int32_t port, int32_t baudCode, int32_t parityCode) override;
    int32_t ClosePort_Modbus(int32_t port) override;
    int32_t GetPort_Status(int32_t port) override;
    int32_t Set_0X_Bit1(int32_t port, int32_t station, int32_t coil) override;
    int32_t Rst_0X_Bit1(int32_t port, int32_t station, int32_t coil) override;
    int32_t Get_0X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override;
    int32_t Get_1X_B16(int32_t port, int32_t station, int32_t start, BitBlock elements) override;
    int32_t Get_3X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override;
    int32_t Get_4X_UnD8(int32_t port, int32_t station, int32_t start, RegisterBlock elements) override;
    int32_t Get_4X_UnD1(int32_t port, int32_t station, int32_t reg) override;
    int32_t Get_4X_D1(int32_t port, int32_t station, int32_t reg) override;
    int32_t Set_4X_D1(int32_t port, int32_t station, int32_t reg, int32_t value) override;
    int32_t GetPort_Info(int32_t port, char *buffer, int32_t size) override;
    int32_t GetPort_Counters(int32_t port, int32_t *values, int32_t count) override;
    int32_t GetPort_LastRead(int32_t port, int32_t station, int32_t function, int32_t start, int32_t *values,
                             int32_t count) override;
    int32_t SetPort_Turnaround(int32_t port, int32_t milliseconds) override;
    int32_t SetPort_Trace(int32_t port, const QString &path) override;

private:
    // The named entry point, loading the library first if need be; raises LinkError when either is missing.
    QFunctionPointer entry(int index, const char *name);
    template <class Function> Function *function(int index, const char *name) {
        return reinterpret_cast<Function *>(entry(index, name));
    }

    QString m_libraryName;
    // Loading and resolving happen under this lock, so two threads binding at once (a link's thread and a
    // tooltip's copy) load the library once and see each entry point whole.
    std::mutex m_binding;
    QLibrary m_library;
    std::unique_ptr<std::atomic<QFunctionPointer>[]> m_entries; // resolved entry points, null until first use
};
