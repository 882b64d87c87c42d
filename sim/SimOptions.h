#pragma once

#include <string>
#include <vector>

// How qm4107-sim was started (see --help in main.cpp).
struct SimOptions {
    int station = 1;
    int baud = 9600;
    char parity = 'N'; // 'N', 'O' or 'E'
    bool wire = false;
    bool protocolAddressing = false;
    bool logFrames = false;            // a "frame" line in hex for each frame received
    std::string linkPath;              // symlink to the pseudo-terminal, if any
    std::string devicePath;            // a real serial device instead of a pseudo-terminal
    std::vector<std::string> commands; // run before the first request, as if typed on standard input
};
