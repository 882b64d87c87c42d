// qm4107-ports: the serial ports of this machine as the QM4107 panel sees them; maps port numbers to
// devices and finds the module's station, baud rate and parity. Usage: qm4107-ports --help.
#include "DeviceAccess.h"
#include "DeviceFinder.h"
#include "ModuleScan.h"
#include "UserMapFile.h"

#include "MODBUS485.h"
#include "PortMap.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char usage[] =
    "Usage: qm4107-ports [list]          the serial devices and the ports that map to them\n"
    "       qm4107-ports map N DEVICE    port N opens DEVICE (its /dev/serial/by-id name if it has one)\n"
    "       qm4107-ports unmap N         port N no longer maps to anything in your map\n"
    "       qm4107-ports scan [N]        find the module on port N, or on every port with a device\n"
    "       qm4107-ports --help\n"
    "\n"
    "Port N is the number chosen in the panel's port list (1-255). It opens, first found:\n"
    "  the device in the environment variable MODBUS485_PORT<N>;\n"
    "  COM<N>=DEVICE in ${XDG_CONFIG_HOME:-$HOME/.config}/MODBUS485/ports.conf (what map and unmap edit);\n"
    "  COM<N>=DEVICE in /etc/MODBUS485/ports.conf;\n"
    "  /dev/ttyS<N-1>.\n"
    "Use the /dev/serial/by-id names for USB adapters: they stay the same when the adapter is plugged in "
    "again.\n"
    "\n"
    "The listing shows for each device its by-id names, USB vendor:product, manufacturer, product and "
    "serial,\n"
    "driver, the ports that map to it and from where, whether you may open it and how to fix it if not, and\n"
    "which programs have it open.\n"
    "scan tries stations 1-16 at 9600, 19200 and 4800 baud with no, odd and even parity, one read of the\n"
    "inputs each, and stops at the first answer: \"port 3: station 5, 19200 baud, 偶校验, answers in 2.1 "
    "ms\"\n"
    "gives the settings to pick in the window and the module's answer time. When anything comes back late at "
    "a\n"
    "setting, the stations asked are asked again with a 1 s allowance, so a slow module is found too. At "
    "most\n"
    "about 10 s per port when nothing answers. A port in use is not scanned.\n"
    "Ctrl-C stops a scan and releases the port.\n"
    "\n"
    "Exit status: 0 done, 1 nothing found, 2 bad usage or a device error, 130 scan interrupted.\n"
    "Environment: QM4107_SYSFS=DIR reads sysfs from DIR instead of /sys; QM4107_BY_ID=DIR reads by-id names\n"
    "from DIR instead of /dev/serial/by-id (both for tests).\n";

constexpr int MaxPort = 255;
constexpr int ExitFound = 0, ExitNothing = 1, ExitError = 2, ExitInterrupted = 130;

volatile std::sig_atomic_t g_stop = 0;
void onStop(int) {
    g_stop = 1;
}

bool portNumber(const char *text, int &port) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 1 || value > MaxPort)
        return false;
    port = static_cast<int>(value);
    return true;
}

std::string sourceName(int port, int32_t source) {
    switch (source) {
    case MODBUS485_SOURCE_VARIABLE:
        return "the variable MODBUS485_PORT" + std::to_string(port);
    case MODBUS485_SOURCE_USER_MAP:
        return "your map " + modbus485::userPortMapPath();
    case MODBUS485_SOURCE_SYSTEM_MAP:
        return "the system map " + modbus485::systemPortMapPath();
    default:
        return "the default";
    }
}

struct PortEntry {
    int port = 0;
    std::string device;
    int32_t source = MODBUS485_SOURCE_DEFAULT;
};

std::vector<PortEntry> portMappings() {
    std::vector<PortEntry> mappings;
    for (int port = 1; port <= MaxPort; ++port) {
        std::array<char, 4096> device{};
        const int32_t source = GetPort_Device(port, device.data(), static_cast<int32_t>(device.size()));
        if (source >= 0)
            mappings.push_back({port, device.data(), source});
    }
    return mappings;
}

// The same device whatever name it goes by.
std::string canonicalName(const std::string &path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    return error ? path : real.string();
}

// True when `name` is one of the device's names: its path, a by-id link, or a link that leads to it.
bool isNameOf(const std::string &name, const SerialDevice &device) {
    if (name == device.path || std::find(device.byId.begin(), device.byId.end(), name) != device.byId.end())
        return true;
    return canonicalName(name) == canonicalName(device.path);
}

bool brlttyOrModemManager(std::string &which) {
    for (const char *program : {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/ModemManager"}) {
        if (::access(program, X_OK) == 0) {
            which = fs::path(program).filename().string();
            return true;
        }
    }
    return false;
}

// A map file that the library passes over, said once at the top rather than as a missing port later.
void warnAboutMapFiles() {
    for (const std::string &path : {modbus485::userPortMapPath(), modbus485::systemPortMapPath()}) {
        std::string text;
        const char *problem = nullptr;
        switch (modbus485::readPortMapFile(path, text)) {
        case modbus485::MapFileState::Absent:
        case modbus485::MapFileState::Read:
            break;
        case modbus485::MapFileState::Truncated:
            problem = "is larger than 64 KiB; only its beginning is read";
            break;
        case modbus485::MapFileState::NotRegular:
            problem = "is not a regular file and is passed over";
            break;
        case modbus485::MapFileState::Unreadable:
            problem = "cannot be read and is passed over";
            break;
        case modbus485::MapFileState::Binary:
            problem = "is not text and is passed over";
            break;
        }
        if (problem)
            std::printf("Warning: the port map %s %s.\n\n", path.c_str(), problem);
    }
}

void printField(const char *name, const std::string &value) {
    std::printf("  %-10s %s\n", name, value.c_str());
}

void printDevice(const SerialDevice &device, const std::vector<PortEntry> &ports) {
    DeviceAccess access(device.path);
    std::printf("%s%s\n", device.path.c_str(), access.exists() ? "" : "  (not present)");
    for (const std::string &link : device.byId)
        printField("by-id", link);
    if (!device.usbId.empty()) {
        std::string usb = device.usbId;
        for (const std::string *text : {&device.manufacturer, &device.product})
            if (!text->empty())
                usb += "  " + *text;
        if (!device.serial.empty())
            usb += "  serial " + device.serial;
        printField("USB", usb);
    }
    if (!device.driver.empty())
        printField("driver", device.driver);
    if (ports.empty())
        printField("ports", "none maps to it: qm4107-ports map N " +
                                (device.byId.empty() ? device.path : device.byId.front()));
    for (const PortEntry &mapping : ports)
        printField("port", std::to_string(mapping.port) + " (COM" + std::to_string(mapping.port) + ") from " +
                               sourceName(mapping.port, mapping.source) +
                               (mapping.device != device.path ? ", as " + mapping.device : ""));
    if (!access.exists())
        return;
    if (!access.isCharacterDevice()) {
        printField("access", "not a serial device");
        return;
    }
    printField("access", access.readWrite() ? "read-write" : access.permissionAdvice());
    const std::vector<DeviceAccess::Holder> holders = access.holders();
    for (const DeviceAccess::Holder &holder : holders)
        printField("in use", "by " + holder.name + " (PID " + std::to_string(holder.pid) + ")");
    if (holders.empty() && access.readWrite())
        printField("in use", access.heldElsewhere() ? "held by another program" : "no");
}

int list() {
    const DeviceFinder finder;
    const std::vector<PortEntry> mappings = portMappings();
    std::vector<SerialDevice> devices = finder.present();
    // Devices a port is mapped to that sysfs did not list (a missing adapter, a pseudo-terminal).
    for (const PortEntry &mapping : mappings) {
        if (mapping.source == MODBUS485_SOURCE_DEFAULT)
            continue;
        bool known = false;
        for (const SerialDevice &device : devices)
            known = known || isNameOf(mapping.device, device);
        if (!known)
            devices.push_back(finder.describe(mapping.device));
    }
    warnAboutMapFiles();
    std::string grabber;
    if (brlttyOrModemManager(grabber))
        std::printf("Warning: %s is installed and may take USB serial adapters for itself; remove it or make "
                    "it leave the adapter alone if the port is busy or the module does not answer.\n\n",
                    grabber.c_str());
    if (devices.empty()) {
        std::printf("No serial device found.\n");
        return ExitNothing;
    }
    for (const SerialDevice &device : devices) {
        std::vector<PortEntry> ports;
        for (const PortEntry &mapping : mappings)
            if (isNameOf(mapping.device, device))
                ports.push_back(mapping);
        printDevice(device, ports);
    }
    return ExitFound;
}

int map(int port, const std::string &device) {
    DeviceAccess access(device);
    if (!access.isCharacterDevice()) {
        std::fprintf(stderr, "qm4107-ports: %s: %s\n", device.c_str(),
                     access.exists() ? "not a serial device" : "no such device");
        return ExitError;
    }
    const std::string byId = DeviceFinder().byIdName(device);
    const std::string name = byId.empty() ? device : byId;
    UserMapFile file;
    std::string error;
    if (!file.set(port, name, error)) {
        std::fprintf(stderr, "qm4107-ports: %s\n", error.c_str());
        return ExitError;
    }
    std::printf("COM%d=%s written to %s\n", port, name.c_str(), file.path().c_str());
    if (std::getenv(("MODBUS485_PORT" + std::to_string(port)).c_str()))
        std::printf("Note: MODBUS485_PORT%d is set here and takes precedence over the map.\n", port);
    return ExitFound;
}

int unmap(int port) {
    UserMapFile file;
    bool removed = false;
    std::string error;
    if (!file.remove(port, removed, error)) {
        std::fprintf(stderr, "qm4107-ports: %s\n", error.c_str());
        return ExitError;
    }
    std::printf(removed ? "COM%d removed from %s\n" : "COM%d is not in %s\n", port, file.path().c_str());
    return removed ? ExitFound : ExitNothing;
}

// Scans one port; prints what it found or why it could not look.
int scanPort(int port) {
    std::array<char, 4096> device{};
    GetPort_Device(port, device.data(), static_cast<int32_t>(device.size()));
    const bool terminal = isatty(STDERR_FILENO);
    ModuleScan scan(port, g_stop);
    scan.onProgress = [&](int32_t baud, int32_t parity, int32_t station) {
        if (terminal)
            std::fprintf(stderr, "\rport %d: %d baud, %s, station %d ", port, ModuleScan::baudRate(baud),
                         ModuleScan::parityCaption(parity), station);
        else if (station == ModuleScan::FirstStation)
            std::fprintf(stderr, "port %d: trying %d baud, %s, stations %d-%d\n", port,
                         ModuleScan::baudRate(baud), ModuleScan::parityCaption(parity),
                         ModuleScan::FirstStation, ModuleScan::LastStation);
    };
    const ModuleScan::Result result = scan.run();
    if (terminal)
        std::fprintf(stderr, "\r\033[K");
    switch (result) {
    case ModuleScan::Result::Found:
        std::printf("port %d: station %d, %d baud, %s, answers in %.1f ms\n", port, scan.found().station,
                    ModuleScan::baudRate(scan.found().baudCode),
                    ModuleScan::parityCaption(scan.found().parityCode), scan.found().answerUs / 1000.0);
        return ExitFound;
    case ModuleScan::Result::CannotOpen:
        std::printf("port %d: not scanned: %s\n", port, scan.openError().c_str());
        return ExitError;
    case ModuleScan::Result::Interrupted:
        std::printf("port %d: scan interrupted, port released\n", port);
        return ExitInterrupted;
    case ModuleScan::Result::NothingAnswered:
        break;
    }
    std::printf("port %d (%s): no module answered\n", port, device.data());
    return ExitNothing;
}

int scan(int onlyPort) {
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

    if (onlyPort)
        return scanPort(onlyPort);
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
        const int portResult = scanPort(mapping.port);
        if (portResult == ExitInterrupted)
            return portResult;
        found = found || portResult == ExitFound;
        failed = failed || portResult == ExitError;
    }
    if (!any)
        std::printf("No port maps to a serial device that is here; see qm4107-ports and qm4107-ports map.\n");
    return found ? ExitFound : failed ? ExitError : ExitNothing;
}

} // namespace

int main(int argc, char *argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto bad = [] {
        std::fputs(usage, stderr);
        return ExitError;
    };
    int port = 0;
    if (args.empty() || (args.size() == 1 && args[0] == "list"))
        return list();
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(usage, stdout);
        return ExitFound;
    }
    if (args[0] == "map" && args.size() == 3 && portNumber(args[1].c_str(), port))
        return map(port, args[2]);
    if (args[0] == "unmap" && args.size() == 2 && portNumber(args[1].c_str(), port))
        return unmap(port);
    if (args[0] == "scan" && args.size() <= 2 && (args.size() == 1 || portNumber(args[1].c_str(), port)))
        return scan(port);
    return bad();
}
