// qm4107-ports' listing: the serial devices present and those a port maps to, with what is known of each.
// Nothing here opens a device.
#include "Commands.h"
#include "DeviceAccess.h"
#include "DeviceFinder.h"

#include "MODBUS485.h"
#include "PortMap.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

std::vector<PortEntry> portMappings() {
    std::vector<PortEntry> mappings;
    for (int port = 1; port <= modbus485::MaxPort; ++port) {
        std::array<char, 4096> device{};
        const int32_t source = GetPort_Device(port, device.data(), static_cast<int32_t>(device.size()));
        if (source >= 0)
            mappings.push_back({port, device.data(), source});
    }
    return mappings;
}

std::string canonicalName(const std::string &path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    return error ? path : real.string();
}

namespace {
// Where a port's device comes from, by MODBUS485_SOURCE_ code.
std::string sourceName(int port, int32_t source) {
    const std::string names[] = {"the default", "the variable MODBUS485_PORT" + std::to_string(port),
                                 "your map " + modbus485::userPortMapPath(),
                                 "the system map " + modbus485::systemPortMapPath()};
    return names[source];
}

// True when `name` is one of the device's names: its path, a by-id link, or a link that leads to it.
bool isNameOf(const std::string &name, const SerialDevice &device) {
    if (name == device.path || std::find(device.byId.begin(), device.byId.end(), name) != device.byId.end())
        return true;
    return canonicalName(name) == canonicalName(device.path);
}

// The name of brltty or ModemManager when one is installed, else empty.
std::string brlttyOrModemManager() {
    for (const char *program : {"/usr/bin/brltty", "/bin/brltty", "/usr/sbin/ModemManager"})
        if (::access(program, X_OK) == 0)
            return fs::path(program).filename().string();
    return {};
}

// A map file that the library passes over, said once at the top rather than as a missing port later.
void warnAboutMapFiles() {
    for (const std::string &path : {modbus485::userPortMapPath(), modbus485::systemPortMapPath()}) {
        // By MapFileState: nothing to say of a file read whole or absent.
        static const char *const problems[] = {nullptr,
                                               nullptr,
                                               "is larger than 64 KiB; only its beginning is read",
                                               "is not a regular file and is passed over",
                                               "cannot be read and is passed over",
                                               "is not text and is passed over"};
        std::string text;
        if (const char *problem = problems[static_cast<int>(modbus485::readPortMapFile(path, text))])
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
    for (const std::string &use : access.inUse())
        printField("in use", use);
}
} // namespace

int listPorts() {
    const DeviceFinder finder;
    const std::vector<PortEntry> mappings = portMappings();
    std::vector<SerialDevice> devices = finder.present();
    // Devices a port is mapped to that sysfs did not list (a missing adapter, a pseudo-terminal).
    for (const PortEntry &mapping : mappings) {
        if (mapping.source == MODBUS485_SOURCE_DEFAULT)
            continue;
        const auto named = [&](const SerialDevice &device) { return isNameOf(mapping.device, device); };
        if (std::none_of(devices.begin(), devices.end(), named))
            devices.push_back(finder.describe(mapping.device));
    }
    warnAboutMapFiles();
    if (const std::string grabber = brlttyOrModemManager(); !grabber.empty())
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
