#pragma once

#include "Modbus485.h"
#include "StationSweep.h"

#include <cstdint>
#include <string>
#include <vector>

// Finds every module on one port's line: a range of stations at each of the line settings given, one
// input-block read each (StationSweep: the same short turnaround and slow second look as ModuleScan, so a
// silent station costs what it costs there). Each station that answers is then read once more in full (its
// coils, input registers, holding registers and the module's parity setting, 4X 256) to say whether it
// answers as a QM4107. A station that answers at several settings is listed at each; a station whose
// answers come garbled at a setting where other stations answer well is listed as a possible duplicate.
//
// One exchange per step, as ModuleScan, so that a window or a link thread can drive it without being held;
// it holds the port from its first step until it ends, is stopped or is destroyed.
class LineSurvey {
public:
    using LineSetting = StationSweep::LineSetting;
    enum class Step { Surveying, Done, CannotOpen, Stopped };
    struct Module {
        int32_t station = 0;
        LineSetting setting;
        int32_t answerUs = -1;        // the first read's round trip; -1 when no answer came whole
        int32_t moduleParity = -1;    // the module's own parity setting (4X 256), a parity code; -1 unread
        bool qm4107 = false;          // its inputs, coils and registers all read without exceptions
        bool severalSettings = false; // it answers at another setting too
        bool maybeDuplicate = false;  // garbled answers where others answer: two modules at one station?
    };

    static constexpr int32_t FirstStation = 1;
    static constexpr int32_t LastStation = 16; // the module's own range
    // The window's default setting: 9600 baud, no parity.
    static constexpr LineSetting DefaultSetting{1, 0};

    LineSurvey(Modbus485 &link, int32_t port, int32_t firstStation = FirstStation,
               int32_t lastStation = LastStation, std::vector<LineSetting> settings = {DefaultSetting});
    ~LineSurvey();
    LineSurvey(const LineSurvey &) = delete;
    LineSurvey &operator=(const LineSurvey &) = delete;

    // Every setting in the order a search tries them.
    static std::vector<LineSetting> allSettings();
    // The remark on a module as the survey's table gives it: "多个设置均应答", "可能站号重复", both or none.
    static std::string remark(const Module &module);

    // One exchange: Surveying while there is more to ask; once it has ended it keeps saying how.
    Step step();
    // Milliseconds to let pass before the next step (a station just refused without asking).
    int32_t waitMs() const { return m_waitMs; }
    // Ends the survey where it is and releases the port; what was found stays.
    void stop() {
        if (m_result == Step::Surveying)
            finish(Step::Stopped);
    }

    // Where the survey is: the setting open (its index in the settings given) and the station asked.
    int settingIndex() const { return m_setting < 0 ? 0 : m_setting; }
    LineSetting setting() const { return m_settings[static_cast<std::size_t>(settingIndex())]; }
    int32_t station() const { return m_sweep.station() ? m_sweep.station() : m_first; }
    // The modules found so far, by station, each station's settings in the order asked.
    const std::vector<Module> &modules() const { return m_modules; }
    // Why the port could not be opened, in the library's words.
    const std::string &openError() const { return m_openError; }

private:
    Step finish(Step result);
    // Takes in what one read of the sweep found.
    void heard(const StationSweep::Probe &probed);
    // One read of the full look at the module just found; false once there is none left.
    bool lookCloser();
    // At the end of a setting: the garbled stations, where other stations answered.
    void endSetting();
    // Lists a module in station order, marking a station that answers at several settings.
    void add(const Module &module);

    Modbus485 &m_link;
    int32_t m_port;
    int32_t m_first;
    int32_t m_last;
    std::vector<LineSetting> m_settings;
    StationSweep m_sweep;
    int m_setting = -1;
    int32_t m_waitMs = 0;
    Step m_result = Step::Surveying;
    std::vector<Module> m_modules;
    std::string m_openError;
    // The module being looked at closer (its station, or 0), the read it is at and whether all have gone
    // well.
    int32_t m_closer = 0;
    int m_closerRead = 0;
    bool m_closerGood = false;
    std::vector<int32_t> m_garbled; // stations garbled at this setting, by their last read
    bool m_answeredHere = false;    // a station answered well at this setting
};
