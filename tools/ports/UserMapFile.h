#pragma once

#include <string>

// The user's port map, ${XDG_CONFIG_HOME:-$HOME/.config}/MODBUS485/ports.conf: lines COM<n>=<device>, found
// and read as MODBUS485 finds and reads it. Editing keeps every other line as it was and replaces the file in
// one step.
class UserMapFile {
public:
    UserMapFile();

    const std::string &path() const { return m_path; }
    // Replaces the port's lines with COM<port>=<device>, or removes them when `device` is empty; false with
    // `error` set when the file cannot be read as a map or rewritten. `had` tells whether the port had a
    // line.
    bool rewrite(int port, const std::string &device, bool &had, std::string &error);

private:
    std::string m_path;
};
