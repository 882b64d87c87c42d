#include "Modbus485Library.h"

#include "RuntimeError.h"

// Placeholder until the loader is written: every operation reports the library as missing.
namespace {
[[noreturn]] void missing() { throw LinkError("MODBUS485 not loaded"); }
} // namespace

Modbus485Library::Modbus485Library(QString libraryName)
    : m_libraryName(std::move(libraryName))
{
}
Modbus485Library::~Modbus485Library() = default;

int32_t Modbus485Library::OpenPort_Modbus(int32_t, int32_t, int32_t) { missing(); }
int32_t Modbus485Library::ClosePort_Modbus(int32_t) { missing(); }
int32_t Modbus485Library::GetPort_Status(int32_t) { missing(); }
int32_t Modbus485Library::Set_0X_Bit1(int32_t, int32_t, int32_t) { missing(); }
int32_t Modbus485Library::Rst_0X_Bit1(int32_t, int32_t, int32_t) { missing(); }
int32_t Modbus485Library::Get_0X_B16(int32_t, int32_t, int32_t, int32_t *) { missing(); }
int32_t Modbus485Library::Get_1X_B16(int32_t, int32_t, int32_t, int32_t *) { missing(); }
int32_t Modbus485Library::Get_3X_UnD8(int32_t, int32_t, int32_t, int32_t *) { missing(); }
int32_t Modbus485Library::Get_4X_UnD8(int32_t, int32_t, int32_t, int32_t *) { missing(); }
int32_t Modbus485Library::Get_4X_UnD1(int32_t, int32_t, int32_t) { missing(); }
int32_t Modbus485Library::Get_4X_D1(int32_t, int32_t, int32_t) { missing(); }
int32_t Modbus485Library::Set_4X_D1(int32_t, int32_t, int32_t, int32_t) { missing(); }
