#include "DeviceFacts.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace modbus485 {
namespace {
Holder holder(const std::string &pid) {
    Holder found{std::atoi(pid.c_str()), {}};
    std::getline(std::ifstream("/proc/" + pid + "/comm"), found.name);
    if (found.name.empty())
        found.name = "?";
    return found;
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

bool isTheDevice(const std::string &link, const std::string &real, dev_t rdev) {
    char target[PATH_MAX];
    const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
    if (size <= 0)
        return false;
    const std::string path(target, static_cast<std::size_t>(size));
    if (path == real)
        return true;
    struct stat st {};
    return path.rfind("/dev/", 0) == 0 && ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
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
    char real[PATH_MAX];
    if (::stat(device.c_str(), &file) != 0 || !::realpath(device.c_str(), real))
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
            if (fd->d_name[0] != '.' && isTheDevice(fdDir + "/" + fd->d_name, real, file.st_rdev)) {
                bool known = false;
                for (const Holder &seen : holders.found)
                    known = known || std::to_string(seen.pid) == pid;
                if (!known)
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
