#pragma once

#include <string>

// The user's port map, ${XDG_CONFIG_HOME:-$HOME/.config}/MODBUS485/ports.conf: lines COM<n>=<device>, found
// and read as MODBUS485 finds and reads it. Editing keeps every other line as it was and replaces the file in
// one step.
class UserMapFile {
public:
    UserMapFile();

    const std::string &path() const { return m_path; }
    // Writes COM<port>=<device>, replacing the port's lines; false with `error` set when it cannot.
    bool set(int port, const std::string &device, std::string &error);
    // Removes the port's lines; false with `error` set when the file cannot be rewritten. `removed` tells
    // whether there was one.
    bool remove(int port, bool &removed, std::string &error);

private:
    // The file's lines without those for `port`; false when the file exists but cannot be read as a map.
    bool readOthers(int port, std::string &kept, bool &found, std::string &error) const;
    bool write(const std::string &content, std::string &error) const;

    std::string m_path;
};
