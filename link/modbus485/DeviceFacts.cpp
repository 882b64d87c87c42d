#include "DeviceFacts.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

namespace modbus485 {
namespace {
// The process and its program's name, "?" when that cannot be read.
Holder holder(const std::string &pid) {
    std::string name;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
    return {std::atoi(pid.c_str()), name.empty() ? std::string("?") : std::move(name)};
}

// The processes whose flock is on the device file, from /proc/locks ("1: FLOCK ADVISORY WRITE PID
// MAJ:MIN:INODE ...").
void lockHolders(const struct stat &file, Holders &holders) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        char kind[16] = {}, pid[16] = {};
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %15s %x:%x:%llu", kind, pid, &major, &minor,
                        &inode) == 5 &&
            std::string(kind) == "FLOCK" && inode == file.st_ino && major == ::major(file.st_dev) &&
            minor == ::minor(file.st_dev))
            holders.found.push_back(holder(pid));
    }
}

// True when the descriptor's link names the device: its target is read, and looked at only inside /dev.
bool isTheDevice(const std::string &link, dev_t rdev) {
    char target[PATH_MAX];
    const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
    target[std::max<ssize_t>(size, 0)] = '\0';
    struct stat st {};
    return std::strncmp(target, "/dev/", 5) == 0 && ::lstat(target, &st) == 0 && S_ISCHR(st.st_mode) &&
           st.st_rdev == rdev;
}
} // namespace

DeviceGroup deviceGroup(const std::string &device) {
    DeviceGroup facts;
    const passwd *user = ::getpwuid(::geteuid());
    facts.user = user ? user->pw_name : std::to_string(::geteuid());
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return facts;
    facts.present = true;
    facts.mode = st.st_mode;
    const group *owner = ::getgrgid(st.st_gid);
    facts.groupNamed = owner != nullptr;
    facts.group = owner ? owner->gr_name : std::to_string(st.st_gid);
    facts.userListed = user && user->pw_gid == st.st_gid;
    for (char **member = owner ? owner->gr_mem : nullptr; member && *member; ++member)
        facts.userListed = facts.userListed || facts.user == *member;
    return facts;
}

Holders deviceHolders(const std::string &device, bool firstOnly) {
    Holders holders;
    struct stat file {};
    if (::stat(device.c_str(), &file) != 0)
        return holders;
    lockHolders(file, holders);
    if (firstOnly && !holders.found.empty())
        return holders;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return holders;
    const std::string self = std::to_string(::getpid());
    while (dirent *entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR *fds = ::opendir(fdDir.c_str());
        if (!fds) {
            holders.allSeen = holders.allSeen && errno == ENOENT; // ENOENT: it has just ended
            continue;
        }
        while (dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] != '.' && isTheDevice(fdDir + "/" + fd->d_name, file.st_rdev)) {
                const auto seen = [&](const Holder &h) { return std::to_string(h.pid) == pid; };
                if (std::none_of(holders.found.begin(), holders.found.end(), seen)) // not the lock's holder
                    holders.found.push_back(holder(pid));
                break;
            }
        }
        ::closedir(fds);
        if (firstOnly && !holders.found.empty())
            break;
    }
    ::closedir(proc);
    return holders;
}

} // namespace modbus485
