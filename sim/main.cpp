// qm4107-sim: a simulated QM4107 module. What it does, prints and takes: the usage text below (--help).
#include "Simulator.h"

#include "LineCodes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
const char usage[] = R"(Usage: qm4107-sim [options]
A simulated QM4107 discrete I/O module, a Modbus RTU slave on a pseudo-terminal or a serial device.
Options:
  --station N            station address, 1-247 (1)
  --baud B               1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200 (9600)
  --parity P             none, odd or even (none)
  --stations LIST        several modules on one line instead of one, e.g. "1,5:19200:even,9": each
                         STATION[:BAUD[:PARITY]], at --baud and --parity where not given (a bus)
  --wire                 take the time the frames would take on a real line at that baud
  --addressing A         reference (item 1 = protocol address 0, default) or protocol
  --link PATH            also make PATH a symbolic link to the pseudo-terminal
  --device PATH          serve a real serial device instead of a pseudo-terminal
  --log-frames           print each frame received in hex: "frame 01 02 00 00 00 10 79 C6"
  -c, --command LINE     run a command line before serving (repeatable)

Standard output: the first line is the device path to open (the --link path if given, else the
pseudo-terminal's /dev/pts/N, or the --device path). Then one line per request served for our station:
    read-coils FIRST COUNT            function 1
    read-inputs FIRST COUNT           function 2
    read-holding-registers FIRST COUNT function 3
    read-input-registers FIRST COUNT  function 4
    write-coil ITEM 0|1               function 5
    write-register ITEM VALUE         function 6 (VALUE unsigned, 0-65535)
    write-coils FIRST COUNT           function 15
    write-registers FIRST COUNT       function 16
    function CODE                     any other function (answered with exception 1)
ITEM/FIRST are numbered as the master passes them to MODBUS485: reference numbers (protocol address + 1)
by default, protocol addresses with --addressing protocol. A line may end with what happened instead of a
plain answer: " exception N" (refused, nothing changed), " silent" (no answer, nothing changed),
" late", " slow", " corrupt-crc", " wrong-station", " garbage" (request carried out, answer damaged or
delayed), " noise" (a byte went out just ahead of the answer), " deaf" (not heard, so no answer and nothing
changed), " wrong-line" (the master's pseudo-terminal is set to another baud or parity than
--baud/--parity: a real module would hear noise, so no answer and nothing changed). The "state" command
prints one line: "state coils=<16 bits> inputs=<16 bits> input-registers=a,b,.. holding-registers=r1,..,r9
parity=P pulses=f1,f2,f3 fault=none|on|pending received=N answered=N bad-frames=N other-station=N
exceptions=N faults=N wrong-line=N", the counters since the start: frames heard, answers sent, frames with
a bad CRC or broken off, requests for another station, exception replies, requests a fault acted on,
requests from a master at another baud or parity. With --log-frames (or the command "frames on") each frame
received is also printed before its request line, as "frame" and its bytes in hex, CRC included: "frame 01
02 00 00 00 10 79 C6".

On a bus (--stations) each module has its own state, faults and counters, and listens only at its own
baud and parity: a master at another setting gets no answer from it (on a --device, whose setting is
--baud and --parity, a module at another setting never answers). Each request line starts with the
station it was for, "station 5 read-inputs 1 16"; each module's parity register (256) starts at the
parity it listens at. A station given twice is two modules at one address, which both answer: the master
gets one frame that fails its CRC, logged by each with " collision". A command for one module starts with
its station, "@5 input 3 1"; without it, it acts on every module ("state" prints one line for each,
"state station=5 coils=..."). echo, noise, deaf, frames, close-device and quit are the line's and take no
station; "normal" without one also ends the noise and the deaf time.

Commands on standard input, one a line (also with -c before the first request):
    input N 0|1          discrete input N (X1-X10; 1-16 exist), 1 = closed
    inputs BITS          inputs from X1 on, e.g. "inputs 1010000000"
    coil N 0|1           coil N (Y1-Y5; 1-16 exist) as if written by a master
    pulses N HZ          pulses on X1-X3 at HZ per second: counter N advances, frequency register N = HZ
    burst N COUNT        exactly COUNT pulses on X1-X3 at 20 per second: counter N advances by COUNT, the
                         input closes for half of each pulse (opens, if held closed); frequency unchanged
    frequency N VALUE    input register N (1-8) = VALUE
    register N VALUE     holding register N (1-9, 256) = VALUE (-32768..65535)
    silent [K]           no answer at all               } for the next K requests,
    late MS [K]          answer MS milliseconds late    } or until "normal"
    slow MS [K]          answer byte by byte, MS apart  }
    corrupt-crc [K]      answer with a wrong CRC        }
    wrong-station [K]    answer as another station      }
    exception [CODE [K]] refuse with exception CODE (4) }
    garbage [K]          answer with random bytes       }
    noise HEX [K]        the byte HEX (00-ff, "0x" optional) on the line just before each of the next K
                         answers, or of every answer
    deaf MS              a request that starts within MS milliseconds after the end of the module's last
                         answer is not heard (no answer); "deaf 0" hears everything again
    echo on|off          the adapter hears itself: each frame the master sends comes back to it at once,
                         before any answer (off by default; "normal" leaves it as it is)
    normal               no more faults, no noise, no deaf time
    power-cycle          on a bus: the module listens from now on at the parity its register 256 holds
    close-device         close the line as a pulled-out adapter would
    state                print the state line
    frames on|off        print each frame received in hex
    quit                 stop
SIGTERM, SIGINT and SIGHUP stop it too; the pseudo-terminal and the --link symlink go with it.
Items: coils 1-16 readable (1-5 writable), inputs 1-16, input registers 1-8, holding registers 1-9 and 256
readable and writable; everything else is refused with exception 2. Writing 0 to registers 1-3 clears a
count.
)";

bool number(const char *text, int low, int high, int &value) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

// "none", "odd" or "even" as a line's parity letter; '\0' for anything else.
char parityLetter(const std::string &word) {
    return word == "none" ? 'N' : word == "odd" ? 'O' : word == "even" ? 'E' : '\0';
}

// --stations' list, STATION[:BAUD[:PARITY]] separated by commas; a baud of 0 and a parity of '\0' stand for
// --baud and --parity. False when an item does not read.
bool stationList(const std::string &text, std::vector<SimStationSetting> &bus) {
    size_t from = 0;
    do {
        const size_t comma = std::min(text.find(',', from), text.size());
        std::vector<std::string> parts;
        size_t part = from;
        for (size_t colon; (colon = text.find(':', part)) < comma; part = colon + 1)
            parts.push_back(text.substr(part, colon - part));
        parts.push_back(text.substr(part, comma - part));
        SimStationSetting setting{0, 0, '\0'};
        if (parts.size() > 3 || !number(parts[0].c_str(), 1, modbus485::MaxStation, setting.station) ||
            (parts.size() > 1 && !parts[1].empty() &&
             !(number(parts[1].c_str(), 1, 4000000, setting.baud) && Simulator::runsAtBaud(setting.baud))) ||
            (parts.size() > 2 && !(setting.parity = parityLetter(parts[2]))))
            return false;
        bus.push_back(setting);
        from = comma + 1;
    } while (from <= text.size());
    return true;
}
} // namespace

int main(int argc, char *argv[]) {
    SimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto bad = [&] {
            std::fprintf(stderr, "qm4107-sim: bad or missing value for %s\n%s", arg.c_str(), usage);
            return 2;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg == "--wire") {
            options.wire = true;
            continue;
        } else if (arg == "--log-frames") {
            options.logFrames = true;
            continue;
        } else if (!value) {
            return bad();
        } else if (arg == "--station") {
            if (!number(value, 1, modbus485::MaxStation, options.station))
                return bad();
        } else if (arg == "--baud") {
            if (!number(value, 1, 4000000, options.baud))
                return bad();
            if (!Simulator::runsAtBaud(options.baud)) {
                std::fprintf(stderr,
                             "qm4107-sim: cannot run at %d baud; it runs at 1200, 2400, 4800, 9600, 19200, "
                             "38400, 57600 or 115200\n",
                             options.baud);
                return 2;
            }
        } else if (arg == "--parity") {
            if (!(options.parity = parityLetter(value)))
                return bad();
        } else if (arg == "--stations") {
            if (!stationList(value, options.bus))
                return bad();
        } else if (arg == "--addressing") {
            const std::string a = value;
            if (a != "reference" && a != "protocol")
                return bad();
            options.protocolAddressing = a == "protocol";
        } else if (arg == "--link") {
            options.linkPath = value;
        } else if (arg == "--device") {
            options.devicePath = value;
        } else if (arg == "-c" || arg == "--command") {
            options.commands.emplace_back(value);
        } else {
            std::fprintf(stderr, "qm4107-sim: unknown option %s\n%s", arg.c_str(), usage);
            return 2;
        }
        ++i;
    }
    for (SimStationSetting &setting : options.bus) {
        setting.baud = setting.baud ? setting.baud : options.baud;
        setting.parity = setting.parity ? setting.parity : options.parity;
    }
    Simulator simulator(options);
    if (!simulator.open())
        return 1;
    return simulator.run();
}
