#pragma once

#include <string>
#include <vector>

// One serial device as the kernel shows it in sysfs, with the names udev gives it.
struct SerialDevice {
    std::string path;              // /dev/ttyUSB0
    std::vector<std::string> byId; // /dev/serial/by-id/... links to it
    std::string driver;            // ftdi_sio, cdc_acm, serial8250...
    std::string usbId;             // vendor:product, e.g. 0403:6001; empty for a device that is not on USB
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// Finds the serial devices present: real UARTs among ttyS*, and every ttyUSB* and ttyACM*, from sysfs, with
// their USB strings and by-id names. Both roots can be moved for tests: QM4107_SYSFS (default /sys) and
// QM4107_BY_ID (default /dev/serial/by-id).
class DeviceFinder {
public:
    DeviceFinder();

    std::vector<SerialDevice> present() const;
    // The device at `path` (any name of it, by-id included) with what sysfs knows of it.
    SerialDevice describe(const std::string &path) const;
    // The first by-id name of the device at `path`, or empty.
    std::string byIdName(const std::string &path) const;

private:
    void fill(SerialDevice &device, const std::string &kernelName) const;
    // The by-id links to the device of that kernel name, sorted.
    std::vector<std::string> byIdLinks(const std::string &kernelName) const;

    std::string m_sysfs;
    std::string m_byId;
};
