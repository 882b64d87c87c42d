#include "SerialLine.h"
#include "WindowsPort.h"

#include <windows.h>

#include <algorithm>

using namespace std::chrono;

namespace {
HANDLE handleOf(void *handle) {
    return static_cast<HANDLE>(handle);
}

static_assert(NOPARITY == 0 && ODDPARITY == 1 && EVENPARITY == 2 && ONESTOPBIT == 0);
static_assert(DTR_CONTROL_ENABLE == 1 && RTS_CONTROL_ENABLE == 1);

void applyTo(DCB &dcb, const modbus485::ComSettings &s) {
    dcb.BaudRate = s.BaudRate;
    dcb.ByteSize = s.ByteSize;
    dcb.Parity = s.Parity;
    dcb.StopBits = s.StopBits;
    dcb.fParity = s.fParity;
    dcb.fBinary = s.fBinary;
    dcb.fOutxCtsFlow = s.fOutxCtsFlow;
    dcb.fOutxDsrFlow = s.fOutxDsrFlow;
    dcb.fDsrSensitivity = s.fDsrSensitivity;
    dcb.fDtrControl = s.fDtrControl;
    dcb.fRtsControl = s.fRtsControl;
    dcb.fOutX = s.fOutX;
    dcb.fInX = s.fInX;
    dcb.fErrorChar = s.fErrorChar;
    dcb.fNull = s.fNull;
    dcb.fAbortOnError = s.fAbortOnError;
    dcb.XonChar = s.XonChar;
    dcb.XoffChar = s.XoffChar;
    dcb.XonLim = s.XonLim;
    dcb.XoffLim = s.XoffLim;
}

// Errors with which Windows reports a port whose device has gone (a USB adapter pulled out) or is failing.
bool isDeviceGone(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_GEN_FAILURE ||
           error == ERROR_INVALID_HANDLE || error == ERROR_FILE_NOT_FOUND || error == ERROR_DEVICE_REMOVED ||
           error == ERROR_NOT_READY;
}
} // namespace

SerialLine::OpenResult SerialLine::open(const std::string &device, int baud, char parity, OpenFor) {
    close();
    OpenResult result;
    // Share mode 0: Windows itself keeps a COM port to one opener. A COM port opens at once or fails at once.
    HANDLE handle =
        CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            result.error = OpenError::Missing;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            result.error = OpenError::Busy;
            break;
        default:
            result.error = OpenError::Failed;
        }
        return result;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &dcb)) {
        CloseHandle(handle);
        result.error = OpenError::NotSerial;
        return result;
    }
    // Every field that bears on the bytes is set: the port keeps what the last program left in it. A driver
    // that will not take our queue sizes keeps its own, which serve as well.
    SetupComm(handle, modbus485::ComQueueBytes, modbus485::ComQueueBytes);
    COMMPROP properties{};
    const DWORD receiveQueue = GetCommProperties(handle, &properties) ? properties.dwCurrentRxQueue : 0;
    applyTo(dcb, modbus485::comSettings(baud, parity, receiveQueue));
    if (!SetCommState(handle, &dcb)) {
        CloseHandle(handle);
        result.error = OpenError::Failed;
        return result;
    }
    PurgeComm(handle, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
    DWORD errors = 0;
    ClearCommError(handle, &errors, nullptr);
    m_handle = handle;
    return result;
}

void SerialLine::close() {
    if (m_handle) {
        CloseHandle(handleOf(m_handle));
        m_handle = nullptr;
    }
}

bool SerialLine::write(const uint8_t *data, std::size_t size) {
    // Without flow control a frame leaves at the line's pace; the limit only stops a stuck driver.
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    HANDLE handle = handleOf(m_handle);
    if (!SetCommTimeouts(handle, &timeouts))
        return false;
    DWORD written = 0;
    return WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

int SerialLine::read(uint8_t *buffer, std::size_t size, Clock::time_point until) {
    HANDLE handle = handleOf(m_handle);
    for (;;) {
        const auto remaining = std::max(Clock::duration::zero(), until - Clock::now());
        const auto ms = static_cast<DWORD>(std::min<long long>(ceil<milliseconds>(remaining).count(), 60000));
        // ReadFile returns as soon as a byte is there, with what is there, or after `ms` with none; with
        // `ms` 0 at once with whatever has come in.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = ms > 0 ? MAXDWORD : 0;
        timeouts.ReadTotalTimeoutConstant = ms;
        if (!SetCommTimeouts(handle, &timeouts))
            return -1;
        DWORD got = 0;
        if (ReadFile(handle, buffer, static_cast<DWORD>(size), &got, nullptr))
            return static_cast<int>(got);
        const DWORD error = GetLastError();
        if (isDeviceGone(error))
            return -1;
        // A line error stopped the read (a driver that aborts on errors whatever the settings): clear it and
        // wait on to the same deadline.
        DWORD errors = 0;
        if (!ClearCommError(handle, &errors, nullptr))
            return -1;
        if (Clock::now() >= until)
            return 0;
    }
}

bool SerialLine::present(const std::string &) const {
    return true;
}

bool SerialLine::hungUp() const {
    // A port whose device has gone no longer answers for its state.
    DWORD errors = 0;
    COMSTAT status{};
    return !ClearCommError(handleOf(m_handle), &errors, &status);
}
