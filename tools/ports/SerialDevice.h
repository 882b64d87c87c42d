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
