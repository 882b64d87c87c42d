#include "PortMap.h"

#include "LineCodes.h"
#include "MODBUS485.h"
#include "WindowsPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace modbus485 {
namespace {
std::string trimmed(const std::string &text, std::size_t from, std::size_t to) {
    const char *blanks = " \t\r";
    const std::size_t first = text.find_first_not_of(blanks, from);
    if (first == std::string::npos || first >= to)
        return {};
    const std::size_t last = text.find_last_not_of(blanks, to - 1);
    return text.substr(first, last + 1 - first);
}

std::string variableDevice(int number) {
    const std::string variable = "MODBUS485_PORT" + std::to_string(number);
    const char *path = std::getenv(variable.c_str());
    return path ? path : "";
}
} // namespace

std::map<int, std::string> parsePortMap(const std::string &text) {
    std::map<int, std::string> ports;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = text.size();
        // Looked for within the line only: a search that ran on through the lines below would make a map of
        // many short lines take quadratic time.
        const auto equals = static_cast<std::size_t>(
            std::find(text.begin() + lineStart, text.begin() + lineEnd, '=') - text.begin());
        if (equals < lineEnd) {
            const std::string key = trimmed(text, lineStart, equals);
            const std::string device = trimmed(text, equals + 1, lineEnd);
            if (key.size() <= 6 && isComName(key) && !device.empty()) {
                const int number = std::atoi(key.c_str() + 3);
                if (number >= 1 && number <= MaxPort)
                    ports[number] = device;
            }
        }
        lineStart = lineEnd + 1;
    }
    return ports;
}

std::string userPortMapPath() {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config)
        return std::string(config) + "/MODBUS485/ports.conf";
    const char *home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.config/MODBUS485/ports.conf";
    return {};
}

std::string systemPortMapPath() {
    const char *path = std::getenv("MODBUS485_SYSTEM_MAP");
    return path && *path ? path : "/etc/MODBUS485/ports.conf";
}

MapFileState readPortMapFile(const std::string &path, std::string &text) {
    text.clear();
#ifdef _WIN32
    (void)path;
    return MapFileState::Absent;
#else
    // Non-blocking, so a FIFO put where the map belongs cannot hold the open up; then only a regular file
    // is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? MapFileState::Absent
               : errno == EISDIR                   ? MapFileState::NotRegular
                                                   : MapFileState::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return MapFileState::NotRegular;
    }
    text.resize(MaxPortMapBytes + 1);
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t got = ::read(fd, &text[size], text.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            text.clear();
            return MapFileState::Unreadable;
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(size);
    if (text.find('\0') != std::string::npos) {
        text.clear();
        return MapFileState::Binary;
    }
    if (size > MaxPortMapBytes) {
        // Only whole lines: the last one may have been cut.
        const std::size_t lastLine = text.rfind('\n', MaxPortMapBytes - 1);
        text.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
        return MapFileState::Truncated;
    }
    return MapFileState::Read;
#endif
}

PortMapping resolvePort(int number) {
    PortMapping mapping;
    if (std::string device = variableDevice(number); !device.empty()) {
#ifdef _WIN32
        device = windowsDeviceName(device); // COM12 as well as \\.\COM12
#endif
        mapping.device = device;
        mapping.source = MODBUS485_SOURCE_VARIABLE;
        return mapping;
    }
#ifndef _WIN32
    const struct {
        std::string path;
        int source;
    } maps[] = {{userPortMapPath(), MODBUS485_SOURCE_USER_MAP},
                {systemPortMapPath(), MODBUS485_SOURCE_SYSTEM_MAP}};
    for (const auto &map : maps) {
        if (map.path.empty())
            continue;
        std::string text;
        const MapFileState state = readPortMapFile(map.path, text);
        if (state != MapFileState::Read && state != MapFileState::Absent && mapping.passedOver.empty()) {
            mapping.passedOver = map.path;
            mapping.passedOverState = state;
        }
        const auto ports = parsePortMap(text);
        if (auto it = ports.find(number); it != ports.end()) {
            mapping.device = it->second;
            mapping.source = map.source;
            mapping.file = map.path;
            return mapping;
        }
    }
    mapping.device = "/dev/ttyS" + std::to_string(number - 1);
#else
    mapping.device = "\\\\.\\COM" + std::to_string(number);
#endif
    mapping.source = MODBUS485_SOURCE_DEFAULT;
    return mapping;
}

} // namespace modbus485
