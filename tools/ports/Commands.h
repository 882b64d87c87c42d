#pragma once

#include "LineCodes.h"

#include <cstdint>
#include <string>
#include <vector>

// qm4107-ports' commands; main.cpp picks one from its arguments. Each prints what it found and returns the
// exit status.
constexpr int ExitFound = 0, ExitNothing = 1, ExitError = 2, ExitInterrupted = 130;

int listPorts(); // PortListing.cpp
int mapPort(int port, const std::string &device);
int unmapPort(int port);
int scanPorts(int onlyPort); // 0: every port whose device is here

// Every port that maps to a device, and where from (a MODBUS485_SOURCE_ code).
struct PortEntry {
    int port = 0;
    std::string device;
    int32_t source = 0;
};
std::vector<PortEntry> portMappings();
// The same device whatever name it goes by.
std::string canonicalName(const std::string &path);
