#pragma once

#include <string>
#include <vector>

// Whether this user can use a serial device, and who else has it open.
class DeviceAccess {
public:
    struct Holder {
        int pid = 0;
        std::string name;
    };

    explicit DeviceAccess(std::string path);

    bool exists() const;
    bool isCharacterDevice() const;
    // True when this user may open the device for reading and writing.
    bool readWrite() const;
    // Why not, and the fix: the device's group as it is here, the usermod command, logging in again.
    std::string permissionAdvice() const;
    // Processes with the device open that this user can see, ourselves left out.
    std::vector<Holder> holders() const;
    // True when another program holds the device so that it cannot be ours: its lock or exclusive mode.
    bool heldElsewhere() const;

private:
    std::string m_path;
};
