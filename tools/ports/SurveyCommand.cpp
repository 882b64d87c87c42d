// qm4107-ports survey: every module on one port's line, as a table and, if asked, a CSV file.
#include "Commands.h"

#include "LineCodes.h"
#include "LineSurvey.h"
#include "LinkWords.h"
#include "MODBUS485.h"
#include "Modbus485Library.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

bool wholeNumber(const std::string &text, long low, long high, long &value) {
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value >= low && value <= high;
}

// The survey's columns, as the table and the CSV file head them.
const char *const Columns[] = {"站号", "波特率", "校验方式", "应答 ms", "模块校验设置", "QM4107", "备注"};
constexpr std::size_t ColumnCount = std::size(Columns);

// One module's row; an empty field is not known (a station whose answers all came garbled).
std::vector<std::string> row(const LineSurvey::Module &module) {
    char answer[32] = "";
    if (module.answerUs >= 0)
        std::snprintf(answer, sizeof answer, "%.1f", module.answerUs / 1000.0);
    const std::string moduleParity = module.moduleParity < 0 ? "" : parityCaption(module.moduleParity);
    return {std::to_string(module.station),
            baudCaption(module.setting.baudCode),
            parityCaption(module.setting.parityCode),
            answer,
            moduleParity,
            module.answerUs < 0 ? ""
            : module.qm4107     ? "是"
                                : "否",
            LineSurvey::remark(module)};
}

// Columns a text takes on a terminal: two for each Chinese character.
std::size_t displayWidth(const std::string &text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80)
            continue;
        width += byte >= 0xE1 ? 2 : 1; // three-byte characters from U+1000 on are wide enough
    }
    return width;
}

void printTable(const std::vector<LineSurvey::Module> &modules) {
    std::vector<std::vector<std::string>> rows{{Columns, Columns + ColumnCount}};
    for (const LineSurvey::Module &module : modules)
        rows.push_back(row(module));
    std::vector<std::size_t> widths(ColumnCount, 0);
    for (const auto &r : rows)
        for (std::size_t c = 0; c < ColumnCount; ++c)
            widths[c] = std::max(widths[c], displayWidth(r[c]));
    for (const auto &r : rows) {
        std::string line;
        for (std::size_t c = 0; c < ColumnCount; ++c) {
            line += r[c];
            if (c + 1 < ColumnCount)
                line += std::string(widths[c] - displayWidth(r[c]) + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        std::printf("%s\n", line.c_str());
    }
}

std::string csvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

// UTF-8 with a byte-order mark, so Excel opens it as such; false when it cannot be written.
bool writeCsv(const std::string &path, const std::vector<LineSurvey::Module> &modules) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << "\xEF\xBB\xBF";
    std::vector<std::vector<std::string>> rows{{Columns, Columns + ColumnCount}};
    for (const LineSurvey::Module &module : modules)
        rows.push_back(row(module));
    for (const auto &r : rows) {
        for (std::size_t c = 0; c < ColumnCount; ++c)
            file << (c ? "," : "") << csvField(r[c]);
        file << "\r\n";
    }
    file.close();
    return !file.fail();
}

} // namespace

bool parseSurvey(const std::vector<std::string> &args, SurveyRequest &request) {
    long value = 0;
    if (args.size() < 2 || !wholeNumber(args[1], 1, modbus485::MaxPort, value))
        return false;
    request.port = static_cast<int>(value);
    bool settingGiven = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string &option = args[i];
        if (option == "--all") {
            request.allSettings = true;
            continue;
        }
        if (i + 1 == args.size())
            return false;
        const std::string &text = args[++i];
        if (option == "--csv") {
            request.csvPath = text;
        } else if (option == "--stations") {
            const std::size_t dash = text.find('-');
            long first = 0, last = 0;
            if (dash == std::string::npos ||
                !wholeNumber(text.substr(0, dash), 1, modbus485::MaxStation, first) ||
                !wholeNumber(text.substr(dash + 1), first, modbus485::MaxStation, last))
                return false;
            request.firstStation = static_cast<int32_t>(first);
            request.lastStation = static_cast<int32_t>(last);
        } else if (option == "--baud") {
            request.baudCode = -1;
            for (int32_t code = 0; code < modbus485::BaudCodes; ++code)
                if (text == baudCaption(code))
                    request.baudCode = code;
            if (request.baudCode < 0)
                return false;
            settingGiven = true;
        } else if (option == "--parity") {
            request.parityCode = -1;
            for (int32_t code = 0; code < modbus485::ParityCodes; ++code)
                if (text == LinkWords::parityOption(code).toStdString() || text == parityCaption(code))
                    request.parityCode = code;
            if (request.parityCode < 0)
                return false;
            settingGiven = true;
        } else {
            return false;
        }
    }
    return !(settingGiven && request.allSettings);
}

int surveyPort(const SurveyRequest &request) {
    catchStopSignals();
    Modbus485Library link;
    std::vector<LineSurvey::LineSetting> settings{{request.baudCode, request.parityCode}};
    if (request.allSettings)
        settings = LineSurvey::allSettings();
    LineSurvey survey(link, request.port, request.firstStation, request.lastStation, settings);
    const bool terminal = isatty(STDERR_FILENO);
    const int port = request.port;
    LineSurvey::Step result = LineSurvey::Step::Surveying;
    int shownSetting = -1;
    int32_t shownStation = 0;
    std::size_t shownFound = 0;
    while (!stopAsked() && (result = survey.step()) == LineSurvey::Step::Surveying) {
        // On a terminal one line, updated in place at each station; elsewhere a line at each setting and
        // each module found.
        const std::size_t found = survey.modules().size();
        const bool moved = survey.settingIndex() != shownSetting || found != shownFound;
        if (moved || (terminal && survey.station() != shownStation)) {
            std::fprintf(stderr, "%sport %d: %s baud, %s, station %d, %zu found%s", terminal ? "\r" : "",
                         port, baudCaption(survey.setting().baudCode).c_str(),
                         parityCaption(survey.setting().parityCode).c_str(), survey.station(), found,
                         terminal ? " " : "\n");
            shownSetting = survey.settingIndex();
            shownStation = survey.station();
            shownFound = found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(survey.waitMs()));
    }
    if (stopAsked())
        survey.stop();
    if (terminal)
        std::fprintf(stderr, "\r\033[K");
    if (result == LineSurvey::Step::CannotOpen) {
        std::printf("port %d: not surveyed: %s\n", port, survey.openError().c_str());
        return ExitError;
    }
    const std::vector<LineSurvey::Module> &modules = survey.modules();
    if (!modules.empty())
        printTable(modules);
    const bool interrupted = result != LineSurvey::Step::Done;
    if (interrupted)
        std::printf("port %d: survey interrupted, port released\n", port);
    else if (modules.empty())
        std::printf("port %d: no module answered, stations %d-%d\n", port, request.firstStation,
                    request.lastStation);
    std::fflush(stdout);
    if (!request.csvPath.empty() && !writeCsv(request.csvPath, modules)) {
        std::fprintf(stderr, "qm4107-ports: %s: cannot be written\n", request.csvPath.c_str());
        return ExitError;
    }
    return interrupted ? ExitInterrupted : modules.empty() ? ExitNothing : ExitFound;
}
