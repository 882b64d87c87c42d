#include "DeviceFinder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string environmentOr(const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

// The first line of a sysfs attribute, or empty.
std::string attribute(const fs::path &file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return line;
}

} // namespace

DeviceFinder::DeviceFinder()
    : m_sysfs(environmentOr("QM4107_SYSFS", "/sys"))
    , m_byId(environmentOr("QM4107_BY_ID", "/dev/serial/by-id")) {}

std::vector<SerialDevice> DeviceFinder::present() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(fs::path(m_sysfs) / "class/tty", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with("ttyS") && !name.starts_with("ttyUSB") && !name.starts_with("ttyACM"))
            continue;
        // A ttyS without hardware behind it has no device link, or a UART type of 0 (unknown).
        if (!fs::exists(entry.path() / "device", error))
            continue;
        if (name.starts_with("ttyS")) {
            const std::string type = attribute(entry.path() / "type");
            if (type.empty() || type == "0")
                continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        // ttyUSB2 before ttyUSB10
        const auto digits = [](const std::string &s) { return s.find_first_of("0123456789"); };
        const std::string pa = a.substr(0, digits(a)), pb = b.substr(0, digits(b));
        if (pa != pb)
            return pa < pb;
        return std::atoi(a.c_str() + pa.size()) < std::atoi(b.c_str() + pb.size());
    });
    std::vector<SerialDevice> devices;
    for (const std::string &name : names) {
        SerialDevice device;
        device.path = "/dev/" + name;
        fill(device, name);
        devices.push_back(device);
    }
    return devices;
}

SerialDevice DeviceFinder::describe(const std::string &path) const {
    SerialDevice device;
    device.path = path;
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    if (!error) {
        device.path = real.string();
        if (fs::exists(fs::path(m_sysfs) / "class/tty" / real.filename(), error))
            fill(device, real.filename().string());
    }
    if (device.byId.empty()) {
        const std::string link = byIdName(path);
        if (!link.empty())
            device.byId.push_back(link);
    }
    return device;
}

std::string DeviceFinder::byIdName(const std::string &path) const {
    std::error_code error;
    if (path.starts_with(m_byId + "/"))
        return path;
    const fs::path real = fs::canonical(path, error);
    const std::vector<std::string> links = byIdLinks((error ? fs::path(path) : real).filename().string());
    return links.empty() ? std::string() : links.front();
}

std::vector<std::string> DeviceFinder::byIdLinks(const std::string &kernelName) const {
    std::vector<std::string> links;
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(m_byId, error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && target.filename() == kernelName)
            links.push_back(entry.path().string());
    }
    std::sort(links.begin(), links.end());
    return links;
}

void DeviceFinder::fill(SerialDevice &device, const std::string &kernelName) const {
    std::error_code error;
    const fs::path classEntry = fs::path(m_sysfs) / "class/tty" / kernelName;
    const fs::path hardware = fs::canonical(classEntry / "device", error);
    if (error)
        return;
    // Newer kernels put serial-base "port" and "ctrl" devices between a UART and its real driver.
    fs::path dir = hardware;
    for (int level = 0; level < 4 && !dir.empty(); ++level, dir = dir.parent_path()) {
        const fs::path driver = fs::read_symlink(dir / "driver", error);
        if (error || driver.string().find("/serial-base/") != std::string::npos)
            continue;
        device.driver = driver.filename().string();
        break;
    }

    // The USB device is the nearest ancestor with a vendor id; its interface and port lie in between.
    const fs::path root = fs::canonical(m_sysfs, error);
    for (fs::path dir = hardware; !dir.empty() && dir != root && dir != dir.root_path();
         dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", error)) {
            device.usbId = attribute(dir / "idVendor") + ":" + attribute(dir / "idProduct");
            device.manufacturer = attribute(dir / "manufacturer");
            device.product = attribute(dir / "product");
            device.serial = attribute(dir / "serial");
            break;
        }
    }
    device.byId = byIdLinks(kernelName);
}
