#pragma once

#include <map>
#include <string>

// Which device a port number names. MODBUS485_PORT<n> wins; then the user's map, then the system's map (lines
// COM<n>=<device>); else the platform's default. Windows reads no map: COM ports are its own.
namespace modbus485 {

enum class MapFileState {
    Absent,     // no such file: nothing to read, nothing wrong
    Read,       // read whole
    Truncated,  // longer than MaxPortMapBytes: the complete lines before that were read
    NotRegular, // a directory, a FIFO, a device: passed over unopened or unread
    Unreadable, // no permission or a read error
    Binary,     // has NUL bytes: not a map, passed over
};

constexpr std::size_t MaxPortMapBytes = 64 * 1024;

struct PortMapping {
    std::string device;
    int source = 0;         // a MODBUS485_SOURCE_ code
    std::string file;       // the map file it came from, for MODBUS485_SOURCE_USER_MAP and _SYSTEM_MAP
    std::string passedOver; // a map file that could not be used on the way, with its state below
    MapFileState passedOverState = MapFileState::Absent;
};

// COM<n>=<device> lines (n 1-255, "COM" in any case, blanks around either side); '#' comments, blank and
// other lines are skipped; a later line for the same port wins.
std::map<int, std::string> parsePortMap(const std::string &text);
// ${XDG_CONFIG_HOME:-$HOME/.config}/MODBUS485/ports.conf; empty when neither variable is set.
std::string userPortMapPath();
// MODBUS485_SYSTEM_MAP when set (for tests), else /etc/MODBUS485/ports.conf.
std::string systemPortMapPath();
// Reads a map file without blocking and at most MaxPortMapBytes of it; only a regular file is read.
MapFileState readPortMapFile(const std::string &path, std::string &text);
// The device port `number` maps to now, and where that comes from.
PortMapping resolvePort(int number);

} // namespace modbus485
