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

// qm4107-ports survey: every module on one port's line (SurveyCommand.cpp).
struct SurveyRequest {
    int port = 0;
    int32_t firstStation = 1, lastStation = 16;
    int32_t baudCode = 1, parityCode = 0; // the panel's defaults: 9600 baud, no parity
    bool allSettings = false;
    std::string csvPath; // also written as CSV when given
};
// False when the arguments after "survey" do not make a request.
bool parseSurvey(const std::vector<std::string> &args, SurveyRequest &request);
int surveyPort(const SurveyRequest &request);

// Ctrl-C, SIGTERM and SIGHUP set stopAsked() from now on, even if the parent started us with them blocked.
void catchStopSignals();
bool stopAsked();
// A baud code's rate and a parity code's word as the windows show them ("19200", "偶校验"), in UTF-8.
std::string baudCaption(int32_t baudCode);
std::string parityCaption(int32_t parityCode);

// Every port that maps to a device, and where from (a MODBUS485_SOURCE_ code).
struct PortEntry {
    int port = 0;
    std::string device;
    int32_t source = 0;
};
std::vector<PortEntry> portMappings();
// The same device whatever name it goes by.
std::string canonicalName(const std::string &path);
