// qm4107-ports map, unmap and scan.
#include "Commands.h"
#include "DeviceAccess.h"
#include "DeviceFinder.h"
#include "UserMapFile.h"

#include "LineCodes.h"
#include "LinkWords.h"
#include "MODBUS485.h"
#include "Modbus485Library.h"
#include "ModuleScan.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

int mapPort(int port, const std::string &device) {
    DeviceAccess access(device);
    if (!access.isCharacterDevice()) {
        std::fprintf(stderr, "qm4107-ports: %s: %s\n", device.c_str(),
                     access.exists() ? "not a serial device" : "no such device");
        return ExitError;
    }
    const std::string byId = DeviceFinder().byIdName(device);
    const std::string name = byId.empty() ? device : byId;
    UserMapFile file;
    bool had = false;
    std::string error;
    if (!file.rewrite(port, name, had, error)) {
        std::fprintf(stderr, "qm4107-ports: %s\n", error.c_str());
        return ExitError;
    }
    std::printf("COM%d=%s written to %s\n", port, name.c_str(), file.path().c_str());
    if (std::getenv(("MODBUS485_PORT" + std::to_string(port)).c_str()))
        std::printf("Note: MODBUS485_PORT%d is set here and takes precedence over the map.\n", port);
    return ExitFound;
}

int unmapPort(int port) {
    UserMapFile file;
    bool removed = false;
    std::string error;
    if (!file.rewrite(port, {}, removed, error)) {
        std::fprintf(stderr, "qm4107-ports: %s\n", error.c_str());
        return ExitError;
    }
    std::printf(removed ? "COM%d removed from %s\n" : "COM%d is not in %s\n", port, file.path().c_str());
    return removed ? ExitFound : ExitNothing;
}

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onStop(int) {
    g_stop = 1;
}

// Scans one port; prints what it found or why it could not look.
int scanPort(Modbus485 &link, int port) {
    std::array<char, 4096> device{};
    GetPort_Device(port, device.data(), static_cast<int32_t>(device.size()));
    const bool terminal = isatty(STDERR_FILENO);
    ModuleScan scan(link, port);
    ModuleScan::Step result = ModuleScan::Step::Scanning;
    int32_t shownSetting = -1, shownStation = 0;
    while (!g_stop && (result = scan.step()) == ModuleScan::Step::Scanning) {
        // A line each time the scan gets to a setting, or to a station on a terminal.
        const int32_t setting = scan.baudCode() * modbus485::ParityCodes + scan.parityCode();
        if (setting != shownSetting || scan.station() != shownStation) {
            if (terminal)
                std::fprintf(stderr, "\rport %d: %s baud, %s, station %d ", port,
                             baudCaption(scan.baudCode()).c_str(), parityCaption(scan.parityCode()).c_str(),
                             scan.station());
            else if (setting != shownSetting)
                std::fprintf(stderr, "port %d: trying %s baud, %s, stations %d-%d\n", port,
                             baudCaption(scan.baudCode()).c_str(), parityCaption(scan.parityCode()).c_str(),
                             ModuleScan::FirstStation, ModuleScan::LastStation);
            shownSetting = setting;
            shownStation = scan.station();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(scan.waitMs()));
    }
    if (g_stop)
        scan.stop();
    if (terminal)
        std::fprintf(stderr, "\r\033[K");
    switch (result) {
    case ModuleScan::Step::Found:
        std::printf("port %d: station %d, %s baud, %s, answers in %.1f ms\n", port, scan.found().station,
                    baudCaption(scan.found().baudCode).c_str(),
                    parityCaption(scan.found().parityCode).c_str(), scan.found().answerUs / 1000.0);
        return ExitFound;
    case ModuleScan::Step::CannotOpen:
        std::printf("port %d: not scanned: %s\n", port, scan.openError().c_str());
        return ExitError;
    case ModuleScan::Step::Scanning:
    case ModuleScan::Step::Stopped:
        std::printf("port %d: scan interrupted, port released\n", port);
        return ExitInterrupted;
    case ModuleScan::Step::NothingAnswered:
        break;
    }
    std::printf("port %d (%s): no module answered\n", port, device.data());
    return ExitNothing;
}

} // namespace

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A parent may have started us with these blocked; Ctrl-C has to reach the scan all the same.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, signal);
    sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

bool stopAsked() {
    return g_stop != 0;
}

std::string baudCaption(int32_t baudCode) {
    return LinkWords::baudText(baudCode).toStdString();
}

std::string parityCaption(int32_t parityCode) {
    return LinkWords::parityText(parityCode).toStdString();
}

int scanPorts(int onlyPort) {
    catchStopSignals();
    Modbus485Library link;
    if (onlyPort)
        return scanPort(link, onlyPort);
    // Every port whose device is here: a serial device sysfs lists, or anything a map names that exists.
    std::vector<std::string> present;
    for (const SerialDevice &device : DeviceFinder().present())
        present.push_back(canonicalName(device.path));
    bool any = false, found = false, failed = false;
    for (const PortEntry &mapping : portMappings()) {
        const std::string real = canonicalName(mapping.device);
        bool here = false;
        for (const std::string &device : present)
            here = here || device == real;
        if (!here && (mapping.source == MODBUS485_SOURCE_DEFAULT || !DeviceAccess(real).isCharacterDevice()))
            continue;
        any = true;
        const int portResult = scanPort(link, mapping.port);
        if (portResult == ExitInterrupted)
            return portResult;
        found = found || portResult == ExitFound;
        failed = failed || portResult == ExitError;
    }
    if (!any)
        std::printf("No port maps to a serial device that is here; see qm4107-ports and qm4107-ports map.\n");
    return found ? ExitFound : failed ? ExitError : ExitNothing;
}
