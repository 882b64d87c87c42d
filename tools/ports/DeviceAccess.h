#pragma once

#include <string>
#include <vector>

// Whether this user can use a serial device, and who else has it open, in the listing's words. Nothing here
// opens the device.
class DeviceAccess {
public:
    explicit DeviceAccess(std::string path)
        : m_path(std::move(path)) {}

    bool exists() const;
    bool isCharacterDevice() const;
    // True when this user may open the device for reading and writing.
    bool readWrite() const;
    // Why not, and the fix: the device's group as it is here, the usermod command, logging in again.
    std::string permissionAdvice() const;
    // "by NAME (PID N)" for each program with the device open; else "no", or "not seen" when other users'
    // programs could not be looked at.
    std::vector<std::string> inUse() const;

private:
    std::string m_path;
};
