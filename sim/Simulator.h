#pragma once

#include "ModuleState.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

typedef struct _modbus modbus_t;

// One module on the line: its station and the line setting it listens at.
struct SimStationSetting {
    int station = 1;
    int baud = 9600;
    char parity = 'N'; // 'N', 'O' or 'E'
};

// How qm4107-sim was started (see --help in main.cpp).
struct SimOptions {
    int station = 1;
    int baud = 9600;
    char parity = 'N'; // 'N', 'O' or 'E'
    // --stations: several modules on one line, each with its own state and setting. Empty for one module,
    // the one of station, baud and parity above.
    std::vector<SimStationSetting> bus;
    bool wire = false;
    bool protocolAddressing = false;
    bool logFrames = false;            // a "frame" line in hex for each frame received
    std::string linkPath;              // symlink to the pseudo-terminal, if any
    std::string devicePath;            // a real serial device instead of a pseudo-terminal
    std::vector<std::string> commands; // run before the first request, as if typed on standard input
};

// The simulated module, or several modules on one bus, on its line: serves Modbus RTU requests from the
// line's file descriptor, takes commands from standard input (SimCommands.cpp), logs one line per request on
// standard output and injects faults. Each module has its own state, faults and counters; echo, noise and
// deaf time are the line's. What a request does to a module is answerRequest's (ModuleState.h).
class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator() { closeLine(); }

    // True for the baud rates the simulator can set on its line: 1200 to 115200, the standard steps.
    static bool runsAtBaud(int baud);

    // Opens the line and prints its device path; false (with a message on stderr) when that fails.
    bool open();
    // Serves until SIGTERM/SIGINT/SIGHUP or the "quit" command; returns the exit status.
    int run();
    // Executes one command line; false (with a message on stderr) when it is not understood.
    bool command(const std::string &line);

private:
    enum class Fault { None, Silent, Late, Slow, CorruptCrc, WrongStation, Exception, Garbage };
    using Clock = std::chrono::steady_clock;

    // The line (SimLine.cpp).
    bool openPseudoTerminal();
    bool openDevice();
    bool makeLink(const std::string &target);
    void closeLine();
    // The time one character takes at a baud rate and parity.
    static double characterSeconds(int baud, char parity);

    // What the module has seen since it started.
    struct Counters {
        long received = 0;     // frames heard, whole or not
        long answered = 0;     // answers put on the line
        long badFrames = 0;    // bad CRC or a frame that broke off
        long otherStation = 0; // requests for another station
        long exceptions = 0;   // exception replies sent
        long faults = 0;       // requests a fault command acted on
        long wrongLine = 0;    // requests heard from a master at another baud or parity
    };
    // One module on the line: where it listens, what it holds, the faults it plays and what it has seen.
    struct Station {
        SimStationSetting setting;
        ModuleState state;
        Fault fault = Fault::None;
        int faultRequests = -1; // requests the fault still applies to; -1 until "normal"
        int lateMs = 0;
        int slowMs = 0; // between the bytes of a slow answer
        int exceptionCode = 4;
        uint32_t garbageSeed = 12345;
        Counters counters;
    };

    // False when the master set the pseudo-terminal to another baud or parity than the station's.
    bool masterLineMatches(const Station &station) const;

    // Serving requests, with the faults and the wire's timing (Simulator.cpp).
    void serveOne();
    void drainUntilQuiet();
    // On a bus: one request frame, any station's, as modbus_receive gives one: its length, or -1 for a frame
    // that broke off or failed its CRC, or a line that is not there (errno).
    int receiveFrame(uint8_t *frame);
    // What the station answers (without CRC) and its log line, faults applied.
    void answer(Station &station, const uint8_t *request, int length, std::vector<uint8_t> &frame,
                std::string &log);
    // The request's log line, the module acting on nothing: it did not hear the request, or refused it.
    std::string unheard(const Station &station, const uint8_t *request, int length) const;
    // Puts the station's answer on the line; `collided` when another module at its station answers at once.
    void reply(Station &station, std::vector<uint8_t> frame, int requestLength, Clock::time_point received,
               std::string &log, bool collided);
    void takeFaultTurn(Station &station);
    // A log line for the station: "station N " ahead of it on a bus.
    void printLog(const Station &station, const std::string &log) const;
    // What reached the module: one "frame" line in hex per frame when frame logging is on.
    void logFrame(const uint8_t *frame, int length);
    // What an adapter that hears itself gives its master back: the frame as it went out, at once.
    void echo(const uint8_t *frame, int length);
    // The module's own counters as " key=value" fields for the state line.
    static std::string counterFields(const Counters &counters);

    // The commands (SimCommands.cpp): those of the line, and those of one module.
    bool lineCommand(const std::vector<std::string> &words, const std::vector<long> &numbers);
    bool stationCommand(Station &station, const std::vector<std::string> &words,
                        const std::vector<long> &numbers);

    SimOptions m_options;
    bool m_bus = false;              // started with --stations
    std::vector<Station> m_stations; // in the order given
    modbus_t *m_modbus = nullptr;
    int m_fd = -1;        // the line: pseudo-terminal master or the serial device
    int m_keepSlave = -1; // our own handle on the pseudo-terminal's slave side, so it never hangs up
    std::string m_ptyPath;
    bool m_linkMade = false;
    bool m_quit = false;
    Clock::time_point m_lastAnswerEnd{};

    // Line behaviours that combine with each module's faults.
    bool m_echo = false;    // each frame heard goes back to the master first
    int m_noiseAnswers = 0; // answers still preceded by m_noiseByte; -1 for all, 0 for none
    uint8_t m_noiseByte = 0;
    int m_deafMs = 0; // a request starting this soon after our last answer is not heard
};
