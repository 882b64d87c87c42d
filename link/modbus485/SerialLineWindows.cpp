#include "SerialLine.h"

#include <windows.h>

#include <algorithm>

using namespace std::chrono;

SerialLine::~SerialLine() {
    close();
}

bool SerialLine::isOpen() const {
    return m_handle != nullptr;
}

SerialLine::OpenResult SerialLine::open(const std::string &device, int baud, char parity) {
    close();
    OpenResult result;
    // Share mode 0: Windows itself keeps a COM port to one opener.
    HANDLE handle =
        CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            result.error = OpenError::Missing;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            result.error = OpenError::Busy;
            break;
        default:
            result.error = OpenError::Failed;
        }
        return result;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        CloseHandle(handle);
        result.error = OpenError::NotSerial;
        return result;
    }
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = parity == 'O' ? ODDPARITY : parity == 'E' ? EVENPARITY : NOPARITY;
    dcb.fParity = parity != 'N';
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!SetCommState(handle, &dcb)) {
        CloseHandle(handle);
        result.error = OpenError::Failed;
        return result;
    }
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_handle = handle;
    return result;
}

void SerialLine::close() {
    if (m_handle) {
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
}

bool SerialLine::write(const uint8_t *data, std::size_t size) {
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 1000;
    HANDLE handle = static_cast<HANDLE>(m_handle);
    if (!SetCommTimeouts(handle, &timeouts))
        return false;
    DWORD written = 0;
    return WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

int SerialLine::read(uint8_t *buffer, std::size_t size, Clock::time_point until) {
    HANDLE handle = static_cast<HANDLE>(m_handle);
    const auto remaining = std::max(Clock::duration::zero(), until - Clock::now());
    const auto ms = static_cast<DWORD>(std::min<long long>(ceil<milliseconds>(remaining).count(), 60000));
    // With these settings ReadFile returns as soon as a byte is there, or after `ms` with none.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = ms > 0 ? MAXDWORD : 0;
    timeouts.ReadTotalTimeoutConstant = ms;
    if (!SetCommTimeouts(handle, &timeouts))
        return -1;
    DWORD got = 0;
    if (!ReadFile(handle, buffer, static_cast<DWORD>(size), &got, nullptr))
        return -1;
    return static_cast<int>(got);
}

bool SerialLine::hungUp() const {
    DWORD errors = 0;
    return !ClearCommError(static_cast<HANDLE>(m_handle), &errors, nullptr);
}
