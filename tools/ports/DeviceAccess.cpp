#include "DeviceAccess.h"

#include "DeviceFacts.h"

#include <sys/stat.h>
#include <unistd.h>

bool DeviceAccess::exists() const {
    struct stat st {};
    return ::stat(m_path.c_str(), &st) == 0;
}

bool DeviceAccess::isCharacterDevice() const {
    struct stat st {};
    return ::stat(m_path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool DeviceAccess::readWrite() const {
    return ::access(m_path.c_str(), R_OK | W_OK) == 0;
}

std::string DeviceAccess::permissionAdvice() const {
    const modbus485::DeviceGroup facts = modbus485::deviceGroup(m_path);
    if (!facts.present)
        return "no such device";
    if (!facts.groupNamed)
        return "permission denied; the device's group (" + facts.group + ") has no name here";
    const mode_t mode = facts.mode;
    if (!(mode & S_IRGRP) || !(mode & S_IWGRP))
        return "permission denied; the device is not read-write even for its group " + facts.group +
               " (mode " + std::to_string((mode >> 6) & 7) + std::to_string((mode >> 3) & 7) +
               std::to_string(mode & 7) + "): a udev rule has to change that";
    // Membership as the user database says it, against the groups this session was started with.
    if (facts.userListed)
        return "permission denied; " + facts.user + " is in group " + facts.group +
               " but this session started before: log out and in again";
    return "permission denied; the device belongs to group " + facts.group + ", which " + facts.user +
           " is not in. Fix: sudo usermod -aG " + facts.group + " " + facts.user +
           ", then log out and in again";
}

std::vector<std::string> DeviceAccess::inUse() const {
    const modbus485::Holders holders = modbus485::deviceHolders(m_path);
    std::vector<std::string> lines;
    for (const modbus485::Holder &holder : holders.found)
        lines.push_back("by " + holder.name + " (PID " + std::to_string(holder.pid) + ")");
    if (lines.empty())
        lines.push_back(holders.allSeen ? "no" : "not seen");
    return lines;
}
