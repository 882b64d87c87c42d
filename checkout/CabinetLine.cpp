#include "CabinetLine.h"

#include "CabinetRules.h"
#include "CheckoutWalk.h"
#include "LinkError.h"
#include "LinkWords.h"
#include "MODBUS485.h"
#include "ModuleMap.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <array>

namespace {

std::function<qint64()> steadyClock() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

} // namespace

CabinetSurvey::CabinetSurvey(ExchangeLink &link, int port, int firstStation, int lastStation,
                             std::vector<LineSurvey::LineSetting> settings, QObject *parent)
    : QObject(parent)
    , clock(steadyClock())
    , m_link(link)
    , m_port(port)
    , m_first(firstStation)
    , m_last(lastStation)
    , m_settings(std::move(settings)) {
    m_seen.station = m_first;
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, [this] { post(false); });
}

CabinetSurvey::~CabinetSurvey() {
    if (m_running)
        m_link.post(ExchangeLink::Priority::Operator, m_port,
                    [onLink = m_onLink](Modbus485 &) {
                        if (onLink->survey)
                            onLink->survey->stop();
                        onLink->survey.reset();
                    },
                    nullptr, {});
}

void CabinetSurvey::start() {
    if (m_running)
        return;
    m_running = true;
    m_stopAsked = false;
    m_startedAt = clock();
    post(false);
}

void CabinetSurvey::stop() {
    if (!m_running)
        return;
    m_stopAsked = true;
    // Between steps: the stopping unit goes now; otherwise it follows the step on the line.
    if (!m_inFlight) {
        m_next.stop();
        post(true);
    }
}

void CabinetSurvey::post(bool stopIt) {
    m_inFlight = true;
    m_link.post(
        ExchangeLink::Priority::Operator, m_port,
        [onLink = m_onLink, port = m_port, first = m_first, last = m_last, settings = m_settings,
         stopIt](Modbus485 &library) {
            Seen &seen = onLink->seen;
            try {
                if (!onLink->survey)
                    onLink->survey = std::make_unique<LineSurvey>(library, port, first, last, settings);
                LineSurvey &survey = *onLink->survey;
                if (stopIt)
                    survey.stop();
                seen.step = survey.step();
                seen.modules = survey.modules();
                seen.settingIndex = survey.settingIndex();
                seen.station = survey.station();
                seen.waitMs = survey.waitMs();
                seen.openError = survey.openError();
            } catch (const LinkError &error) {
                seen.step = LineSurvey::Step::CannotOpen;
                seen.openError = error.what();
            }
            // Ended: let go of the port here, on the link.
            if (seen.step != LineSurvey::Step::Surveying)
                onLink->survey.reset();
        },
        this, [this] { stepped(); });
}

void CabinetSurvey::stepped() {
    m_inFlight = false;
    m_seen = m_onLink->seen;
    if (m_seen.step == LineSurvey::Step::Surveying && m_stopAsked)
        return post(true);
    emit progressed();
    if (m_seen.step == LineSurvey::Step::Surveying) {
        m_next.start(m_seen.waitMs);
        return;
    }
    m_running = false;
    emit finished(m_seen.step);
}

LineSurvey::LineSetting CabinetSurvey::setting() const {
    return m_settings.empty() ? LineSurvey::DefaultSetting
                              : m_settings[std::min<std::size_t>(m_seen.settingIndex, m_settings.size() - 1)];
}

double CabinetSurvey::done() const {
    if (m_seen.step != LineSurvey::Step::Surveying)
        return 1;
    return CabinetRules::surveyDone(m_seen.settingIndex, static_cast<int>(m_settings.size()), m_seen.station,
                                    m_first, m_last);
}

int CabinetSurvey::secondsLeft() const {
    return m_running ? CabinetRules::secondsLeft(clock() - m_startedAt, done()) : 0;
}

ModuleSnapshot readModuleSnapshot(Modbus485 &library, int32_t port, int32_t station) {
    ModuleSnapshot s;
    int32_t bits[2] = {-1, -1};
    if (library.Get_0X_B16(port, station, ModuleMap::CoilBlockStart, Modbus485::BitBlock(bits)) !=
            ModuleMap::Failed &&
        bits[0] >= 0 && bits[0] <= 255)
        s.takeCoils(bits[0]);
    bits[0] = bits[1] = -1;
    if (library.Get_1X_B16(port, station, ModuleMap::InputBlockStart, Modbus485::BitBlock(bits)) !=
            ModuleMap::Failed &&
        bits[0] >= 0 && bits[0] <= 255 && bits[1] >= 0 && bits[1] <= 255)
        s.takeInputs(bits);
    std::array<int32_t, 8> block{};
    if (library.Get_4X_UnD8(port, station, ModuleMap::CounterBlockStart, Modbus485::RegisterBlock(block)) !=
        ModuleMap::Failed)
        s.takeCounterBlock(block);
    if (const int32_t mode = library.Get_4X_UnD1(port, station, ModuleMap::ClearModeX3Register);
        mode != ModuleMap::Failed)
        s.clearModes[2] = mode;
    if (library.Get_3X_UnD8(port, station, ModuleMap::FrequencyBlockStart, Modbus485::RegisterBlock(block)) !=
        ModuleMap::Failed)
        s.takeFrequencies(block);
    if (const int32_t parity = library.Get_4X_D1(port, station, ModuleMap::ParityRegister);
        parity != ModuleMap::Failed)
        s.parity = parity;
    return s;
}

ParityWrite::ParityWrite(ExchangeLink &link, JournalWriter &module, CabinetJournalWriter &cabinet,
                         Settings settings, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_module(module)
    , m_cabinet(cabinet)
    , m_settings(std::move(settings)) {
    if (!m_settings.clock)
        m_settings.clock = steadyClock();
    if (!m_settings.now)
        m_settings.now = [] { return CheckoutWalk::isoTime(QDateTime::currentDateTime()); };
}

QString ParityWrite::notAnsweredText() {
    return QStringLiteral("已写入；若模块需重新上电才生效，请重新上电后按 重试");
}

void ParityWrite::start() {
    if (m_busy)
        return;
    m_busy = true;
    const RecordHeader &h = m_settings.header;
    emit said(QStringLiteral("正在读取站号 %1 的调试前状态（%2 %3）…")
                  .arg(h.station)
                  .arg(LinkWords::baudText(h.baudCode), LinkWords::parityText(m_settings.presentParity)));
    auto found = std::make_shared<ModuleSnapshot>();
    auto openError = std::make_shared<QString>();
    m_link.post(
        ExchangeLink::Priority::Operator, h.port,
        [found, openError, h, present = m_settings.presentParity](Modbus485 &library) {
            try {
                if (library.OpenPort_Modbus(h.port, h.baudCode, present) != MODBUS485_OPEN_OK) {
                    std::array<char, 512> reason{};
                    library.GetPort_Info(h.port, reason.data(), static_cast<int32_t>(reason.size()));
                    *openError = QString::fromUtf8(reason.data());
                    library.ClosePort_Modbus(h.port);
                    return;
                }
                *found = readModuleSnapshot(library, h.port, h.station);
            } catch (const LinkError &error) {
                *openError = QStringLiteral("找不到 MODBUS485 库：%1").arg(QString::fromUtf8(error.what()));
            }
        },
        this, [this, found, openError] { asFound(*found, *openError); });
}

void ParityWrite::asFound(const ModuleSnapshot &found, const QString &openError) {
    const RecordHeader &h = m_settings.header;
    if (!openError.isEmpty())
        return end(false, openError);
    if (found == ModuleSnapshot{}) {
        return closeThenEnd(
            QStringLiteral("站号 %1 在 %2 %3 下未应答，未写入。")
                .arg(h.station)
                .arg(LinkWords::baudText(h.baudCode), LinkWords::parityText(m_settings.presentParity)));
    }
    // The module's journal holds it as found before anything is written to it.
    if (!m_module.writeHeader(h) || !m_module.writeAsFound(found) ||
        !m_cabinet.writeModule(h.station, {ModuleState::Begun, m_settings.journalName, {}})) {
        const QString error = m_module.error().isEmpty() ? m_cabinet.error() : m_module.error();
        return closeThenEnd(QStringLiteral("无法写入记录：%1。未写入。").arg(error));
    }
    auto answered = std::make_shared<bool>(false);
    m_link.post(
        ExchangeLink::Priority::Operator, h.port,
        [answered, h](Modbus485 &library) {
            try {
                // At the module's present parity, where it still listens.
                *answered = library.Set_4X_D1(h.port, h.station, ModuleMap::ParityRegister, h.parityCode) !=
                            ModuleMap::Failed;
                // From here on, the line's setting.
                library.ClosePort_Modbus(h.port);
                library.OpenPort_Modbus(h.port, h.baudCode, h.parityCode);
            } catch (const LinkError &) {
            }
        },
        this, [this, answered] { written(*answered); });
}

void ParityWrite::written(bool writeAnswered) {
    m_writeAnswered = writeAnswered;
    emit said(QStringLiteral("已写入站号 %1 的校验方式，正在以 %2 %3 读取…")
                  .arg(m_settings.header.station)
                  .arg(LinkWords::baudText(m_settings.header.baudCode),
                       LinkWords::parityText(m_settings.header.parityCode)));
    m_listenUntil = m_settings.clock() + m_settings.answerWaitMs;
    listen();
}

void ParityWrite::retry() {
    if (m_busy || m_answered || !m_noted)
        return;
    m_busy = true;
    emit said(QStringLiteral("正在以线路设置读取站号 %1…").arg(m_settings.header.station));
    const RecordHeader &h = m_settings.header;
    m_link.post(
        ExchangeLink::Priority::Operator, h.port,
        [h](Modbus485 &library) {
            try {
                library.OpenPort_Modbus(h.port, h.baudCode, h.parityCode);
            } catch (const LinkError &) {
            }
        },
        this,
        [this] {
            m_listenUntil = m_settings.clock() + m_settings.answerWaitMs;
            listen();
        });
}

// One read of the inputs at the line's setting.
void ParityWrite::listen() {
    auto answered = std::make_shared<bool>(false);
    const RecordHeader &h = m_settings.header;
    m_link.post(
        ExchangeLink::Priority::Operator, h.port,
        [answered, h](Modbus485 &library) {
            int32_t bits[2] = {-1, -1};
            try {
                *answered = library.Get_1X_B16(h.port, h.station, ModuleMap::InputBlockStart,
                                               Modbus485::BitBlock(bits)) != ModuleMap::Failed &&
                            bits[0] >= 0;
            } catch (const LinkError &) {
            }
        },
        this, [this, answered] { heard(*answered); });
}

void ParityWrite::heard(bool answered) {
    if (!answered && m_settings.clock() < m_listenUntil) {
        QTimer::singleShot(m_settings.retryMs, this, [this] { listen(); });
        return;
    }
    // The walk opens the port again on its own, once this has let it go.
    m_link.post(
        ExchangeLink::Priority::Operator, m_settings.header.port,
        [port = m_settings.header.port](Modbus485 &library) { library.ClosePort_Modbus(port); }, this,
        [this, answered] { released(answered); });
}

void ParityWrite::released(bool answered) {
    const RecordHeader &h = m_settings.header;
    // Noted once when written, and again when a retry finds the module answering.
    if (!m_noted || answered) {
        m_noted = true;
        m_cabinet.writeParityChange(
            {h.station, m_settings.presentParity, h.parityCode, m_settings.now(), answered});
    }
    if (answered)
        return end(true, QStringLiteral("站号 %1 已改为 %2，在线路设置下应答。")
                             .arg(h.station)
                             .arg(LinkWords::parityText(h.parityCode)));
    end(false, m_writeAnswered
                   ? notAnsweredText()
                   : QStringLiteral("写入未得到应答；若模块需重新上电才生效，请重新上电后按 重试"));
}

void ParityWrite::closeThenEnd(const QString &text) {
    m_link.post(
        ExchangeLink::Priority::Operator, m_settings.header.port,
        [port = m_settings.header.port](Modbus485 &library) { library.ClosePort_Modbus(port); }, this,
        [this, text] { end(false, text); });
}

void ParityWrite::end(bool answered, const QString &text) {
    m_busy = false;
    m_answered = answered;
    emit said(text);
    emit finished(answered);
}
