// qm4107-ports: the serial ports of this machine as the QM4107 panel sees them; maps port numbers to
// devices and finds the module's station, baud rate and parity. Usage: qm4107-ports --help.
#include "Commands.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char usage[] =
    "Usage: qm4107-ports [list]          the serial devices and the ports that map to them\n"
    "       qm4107-ports map N DEVICE    port N opens DEVICE (its /dev/serial/by-id name if it has one)\n"
    "       qm4107-ports unmap N         port N no longer maps to anything in your map\n"
    "       qm4107-ports scan [N]        find the module on port N, or on every port with a device\n"
    "       qm4107-ports survey N [--stations A-B] [--baud B] [--parity P | --all] [--csv FILE]\n"
    "                                    find every module on port N's line\n"
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
    "survey asks every station of a range (1-16 unless --stations A-B, at most 1-247) at one setting\n"
    "(--baud 4800, 9600 or 19200; --parity none, odd or even; 9600 and none unless given) or at each of the\n"
    "nine with --all, and lists every module that answers: station, baud rate, parity, answer time, the\n"
    "module's own parity setting (4X 256), whether it answers as a QM4107 (inputs, coils and registers read\n"
    "without exceptions) and a remark: \"多个设置均应答\" for a station that answers at several settings,\n"
    "\"可能站号重复\" for one whose answers come garbled where others answer. --csv FILE writes the same\n"
    "table as CSV, UTF-8 with a byte-order mark. Progress goes to standard error; Ctrl-C stops the survey\n"
    "and prints what it found so far. About 60 ms a silent station at 9600 baud.\n"
    "\n"
    "Exit status: 0 done, 1 nothing found, 2 bad usage or a device error, 130 scan or survey interrupted.\n"
    "Environment: QM4107_SYSFS=DIR reads sysfs from DIR instead of /sys; QM4107_BY_ID=DIR reads by-id names\n"
    "from DIR instead of /dev/serial/by-id (both for tests).\n";

bool portNumber(const char *text, int &port) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 1 || value > modbus485::MaxPort)
        return false;
    port = static_cast<int>(value);
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    int port = 0;
    if (args.empty() || (args.size() == 1 && args[0] == "list"))
        return listPorts();
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(usage, stdout);
        return ExitFound;
    }
    if (args[0] == "map" && args.size() == 3 && portNumber(args[1].c_str(), port))
        return mapPort(port, args[2]);
    if (args[0] == "unmap" && args.size() == 2 && portNumber(args[1].c_str(), port))
        return unmapPort(port);
    if (args[0] == "scan" && args.size() <= 2 && (args.size() == 1 || portNumber(args[1].c_str(), port)))
        return scanPorts(port);
    SurveyRequest survey;
    if (args[0] == "survey" && parseSurvey(args, survey))
        return surveyPort(survey);
    std::fputs(usage, stderr);
    return ExitError;
}
