// The simulator's command language: the lines of standard input and of -c (see main.cpp).
#include "Simulator.h"

#include "LineCodes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {
bool parseInt(const std::string &text, long &value, int base = 0) {
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, base);
    return !text.empty() && errno == 0 && *end == '\0';
}

} // namespace

bool Simulator::command(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty() || words[0][0] == '#')
        return true;
    auto bad = [&] {
        std::fprintf(stderr, "qm4107-sim: bad command \"%s\"\n", line.c_str());
        return false;
    };
    // "@5 input 3 1": a module's command for station 5 alone; without it, for every module on the line.
    std::vector<Station *> stations;
    const bool atStation = words[0][0] == '@';
    if (atStation) {
        long station = 0;
        if (!parseInt(words[0].substr(1), station, 10))
            return bad();
        for (Station &s : m_stations)
            if (s.setting.station == station)
                stations.push_back(&s);
        words.erase(words.begin());
        if (stations.empty() || words.empty())
            return bad();
    } else {
        for (Station &s : m_stations)
            stations.push_back(&s);
    }
    const std::string &name = words[0];
    std::vector<long> numbers;
    for (size_t i = 1; i < words.size(); ++i) {
        long value = 0;
        if (name == "inputs" || name == "pulses" || name == "frames" || name == "echo" || name == "noise")
            break; // parsed below
        if (!parseInt(words[i], value))
            return bad();
        numbers.push_back(value);
    }
    bool ok = true;
    if (name == "echo" || name == "frames" || name == "noise" || name == "deaf" || name == "close-device" ||
        name == "quit") {
        ok = !atStation && lineCommand(words, numbers); // the line's, not a module's
    } else {
        for (Station *station : stations)
            ok = stationCommand(*station, words, numbers) && ok;
        if (ok && name == "normal" && !atStation) {
            // Without a station, "normal" also clears the line's noise and deaf time.
            m_noiseAnswers = 0;
            m_deafMs = 0;
        }
    }
    return ok || bad();
}

bool Simulator::lineCommand(const std::vector<std::string> &words, const std::vector<long> &numbers) {
    const std::string &name = words[0];
    if ((name == "echo" || name == "frames") && words.size() == 2 &&
        (words[1] == "on" || words[1] == "off")) {
        (name == "echo" ? m_echo : m_options.logFrames) = words[1] == "on";
        return true;
    }
    if (name == "noise" && (words.size() == 2 || words.size() == 3)) {
        long byte = -1;
        long count = 0;
        const bool ok = parseInt(words[1], byte, 16) && byte >= 0 && byte <= 0xFF &&
                        (words.size() == 2 || parseInt(words[2], count));
        if (ok) {
            m_noiseByte = static_cast<uint8_t>(byte);
            m_noiseAnswers = count > 0 ? static_cast<int>(count) : -1;
        }
        return ok;
    }
    if (name == "deaf" && numbers.size() == 1 && numbers[0] >= 0 && numbers[0] <= 60000) {
        m_deafMs = static_cast<int>(numbers[0]);
        return true;
    }
    if (name == "close-device" && numbers.empty()) {
        closeLine();
        return true;
    }
    if (name == "quit" && numbers.empty()) {
        m_quit = true;
        return true;
    }
    return false;
}

bool Simulator::stationCommand(Station &station, const std::vector<std::string> &words,
                               const std::vector<long> &numbers) {
    const std::string &name = words[0];
    ModuleState &state = station.state;
    auto arity = [&](size_t low, size_t high) { return numbers.size() >= low && numbers.size() <= high; };
    auto fault = [&](Fault f, size_t countIndex) {
        station.fault = f;
        station.faultRequests = numbers.size() > countIndex && numbers[countIndex] > 0
                                    ? static_cast<int>(numbers[countIndex])
                                    : -1;
        return true;
    };
    bool ok = false;
    if (name == "input" && arity(2, 2)) {
        ok = state.setInput(static_cast<int>(numbers[0]), numbers[1] != 0);
    } else if (name == "inputs" && words.size() == 2) {
        ok = words[1].size() <= ModuleState::InputItems &&
             words[1].find_first_not_of("01") == std::string::npos;
        for (size_t i = 0; ok && i < ModuleState::InputItems; ++i)
            state.setInput(static_cast<int>(i + 1), i < words[1].size() && words[1][i] == '1');
    } else if (name == "coil" && arity(2, 2)) {
        ok = state.setCoil(static_cast<int>(numbers[0]), numbers[1] != 0);
    } else if (name == "pulses" && words.size() == 3) {
        char *end = nullptr;
        const double hertz = std::strtod(words[2].c_str(), &end);
        long counter = 0;
        ok = parseInt(words[1], counter) && *end == '\0' && state.setPulses(static_cast<int>(counter), hertz);
    } else if ((name == "frequency" || name == "input-register") && arity(2, 2)) {
        ok = numbers[1] >= 0 && numbers[1] <= 65535 &&
             state.setInputRegister(static_cast<int>(numbers[0]), static_cast<uint16_t>(numbers[1]));
    } else if (name == "register" && arity(2, 2)) {
        ok = numbers[1] >= -32768 && numbers[1] <= 65535 &&
             state.writeHoldingRegister(static_cast<int>(numbers[0]), static_cast<uint16_t>(numbers[1])) ==
                 ModuleState::Served;
    } else if (name == "silent" && arity(0, 1)) {
        ok = fault(Fault::Silent, 0);
    } else if (name == "late" && arity(1, 2) && numbers[0] >= 0) {
        station.lateMs = static_cast<int>(numbers[0]);
        ok = fault(Fault::Late, 1);
    } else if (name == "slow" && arity(1, 2) && numbers[0] >= 0) {
        station.slowMs = static_cast<int>(numbers[0]);
        ok = fault(Fault::Slow, 1);
    } else if (name == "corrupt-crc" && arity(0, 1)) {
        ok = fault(Fault::CorruptCrc, 0);
    } else if (name == "wrong-station" && arity(0, 1)) {
        ok = fault(Fault::WrongStation, 0);
    } else if (name == "exception" && arity(0, 2)) {
        station.exceptionCode = numbers.empty() ? 4 : static_cast<int>(numbers[0] & 0xFF);
        ok = fault(Fault::Exception, 1);
    } else if (name == "garbage" && arity(0, 1)) {
        ok = fault(Fault::Garbage, 0);
    } else if (name == "burst" && arity(2, 2)) {
        ok = numbers[0] >= 1 && numbers[0] <= ModuleState::Counters && numbers[1] >= 1 &&
             numbers[1] <= 65535 && state.burst(static_cast<int>(numbers[0]), static_cast<int>(numbers[1]));
    } else if (name == "normal" && arity(0, 0)) {
        station.fault = Fault::None;
        station.faultRequests = -1;
        ok = true;
    } else if (name == "power-cycle" && arity(0, 0) && m_bus) {
        // Powered again, a module listens at the parity its register was set to.
        const int code = state.paritySetting();
        ok = code >= 0 && code < modbus485::ParityCodes;
        if (ok)
            station.setting.parity = modbus485::ParityLetters[code];
    } else if (name == "state" && arity(0, 0)) {
        const std::string who = m_bus ? "station=" + std::to_string(station.setting.station) + " " : "";
        std::printf("state %s%s fault=%s%s\n", who.c_str(), state.dump().c_str(),
                    station.fault == Fault::None ? "none"
                    : station.faultRequests > 0  ? "pending"
                                                 : "on",
                    counterFields(station.counters).c_str());
        std::fflush(stdout);
        ok = true;
    }
    return ok;
}
