#include "UserMapFile.h"

#include "PortMap.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

UserMapFile::UserMapFile()
    : m_path(modbus485::userPortMapPath()) {}

bool UserMapFile::rewrite(int port, const std::string &device, bool &had, std::string &error) {
    had = false;
    if (m_path.empty()) {
        error = "neither XDG_CONFIG_HOME nor HOME is set: no place for your map";
        return false;
    }
    std::string content;
    switch (modbus485::readPortMapFile(m_path, content)) {
    case modbus485::MapFileState::Absent:
    case modbus485::MapFileState::Read:
        break;
    case modbus485::MapFileState::Truncated:
    case modbus485::MapFileState::Binary:
        error = m_path + ": not a port map (binary, or larger than 64 KiB); fix or remove it";
        return false;
    case modbus485::MapFileState::NotRegular:
        error = m_path + ": not a regular file";
        return false;
    case modbus485::MapFileState::Unreadable:
        error = m_path + ": cannot be read";
        return false;
    }
    // Lines are kept as they are; only those that set this port go, read as the library reads them.
    std::istringstream in(content);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
        if (modbus485::parsePortMap(line).count(port))
            had = true;
        else
            kept += line + "\n";
    }
    if (!device.empty())
        kept += "COM" + std::to_string(port) + "=" + device + "\n";
    else if (!had)
        return true; // nothing to remove
    // Written beside the map, then moved over it in one step.
    std::error_code fsError;
    fs::create_directories(fs::path(m_path).parent_path(), fsError);
    const std::string temporary = m_path + ".new" + std::to_string(getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = ::write(fd, kept.data(), kept.size()) == static_cast<ssize_t>(kept.size());
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = m_path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
