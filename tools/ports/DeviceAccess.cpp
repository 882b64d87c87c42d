#include "DeviceAccess.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include <fcntl.h>

namespace fs = std::filesystem;

DeviceAccess::DeviceAccess(std::string path)
    : m_path(std::move(path)) {}

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
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0)
        return "no such device";
    const passwd *user = getpwuid(getuid());
    const std::string userName = user ? user->pw_name : std::to_string(getuid());
    const group *owner = getgrgid(st.st_gid);
    if (!owner)
        return "permission denied; the device's group (" + std::to_string(st.st_gid) + ") has no name here";
    const std::string groupName = owner->gr_name;
    if (!(st.st_mode & S_IRGRP) || !(st.st_mode & S_IWGRP))
        return "permission denied; the device is not read-write even for its group " + groupName + " (mode " +
               std::to_string((st.st_mode >> 6) & 7) + std::to_string((st.st_mode >> 3) & 7) +
               std::to_string(st.st_mode & 7) + "): a udev rule has to change that";

    // Membership as the user database says it, against the groups this session was started with.
    bool listed = false;
    for (char **member = owner->gr_mem; member && *member; ++member)
        listed = listed || userName == *member;
    if (user && user->pw_gid == st.st_gid)
        listed = true;
    if (listed)
        return "permission denied; " + userName + " is in group " + groupName +
               " but this session started before: log out and in again";
    return "permission denied; the device belongs to group " + groupName + ", which " + userName +
           " is not in. Fix: sudo usermod -aG " + groupName + " " + userName + ", then log out and in again";
}

std::vector<DeviceAccess::Holder> DeviceAccess::holders() const {
    std::vector<Holder> found;
    std::error_code error;
    const fs::path device = fs::canonical(m_path, error);
    if (error)
        return found;
    const std::string self = std::to_string(getpid());
    for (const fs::directory_entry &process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::error_code fdError;
        for (const fs::directory_entry &fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd.path(), linkError) == device && !linkError) {
                Holder holder;
                holder.pid = std::atoi(pid.c_str());
                std::ifstream comm(process.path() / "comm");
                std::getline(comm, holder.name);
                found.push_back(holder);
                break;
            }
        }
    }
    return found;
}

bool DeviceAccess::heldElsewhere() const {
    // Opened without waiting for carrier and without becoming our controlling terminal; nothing is set up.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}
