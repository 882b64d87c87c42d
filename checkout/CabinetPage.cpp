#include "CabinetPage.h"

#include "CheckoutWizard.h"
#include "LineFields.h"
#include "LinkWords.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace {

enum Column { StationColumn, TagColumn, FoundColumn, RemarkColumn, ActionColumn, Columns };

} // namespace

CabinetLinePage::CabinetLinePage(CheckoutWizard *wizard, ExchangeLink &link)
    : m_wizard(wizard)
    , m_link(link) {
    setTitle(QStringLiteral("连接"));
    setSubTitle(QStringLiteral("端口、波特率和校验方式为整条线路的设置。先扫描 I/O 表中的站号，再开始调试；"
                               "扫描后线路设置不再改变。"));
    auto *form = new QFormLayout(this);
    m_port = LineFields::addPort(form, "cabinetPortSpin");
    m_baud = LineFields::addBaud(form, "cabinetBaudCombo");
    m_parity = LineFields::addParity(form, "cabinetParityCombo");

    auto *surveyRow = new QHBoxLayout;
    surveyRow->addWidget(m_surveyButton = new QPushButton(QStringLiteral("扫描")));
    m_surveyButton->setObjectName(QStringLiteral("surveyButton"));
    surveyRow->addWidget(m_allButton = new QPushButton(QStringLiteral("全面扫描")));
    m_allButton->setObjectName(QStringLiteral("allSettingsButton"));
    m_allButton->setToolTip(QStringLiteral("以全部九种线路设置扫描未找到的站号"));
    m_allButton->hide();
    surveyRow->addWidget(m_progress = new QProgressBar, 1);
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_progress->setAccessibleName(QStringLiteral("扫描进度"));
    surveyRow->addWidget(m_left = new QLabel);
    m_left->setObjectName(QStringLiteral("surveyLeft"));
    form->addRow(surveyRow);
    form->addRow(m_goOnButton = new QPushButton);
    m_goOnButton->setObjectName(QStringLiteral("goOnCabinetButton"));
    m_goOnButton->hide();
    connect(m_goOnButton, &QPushButton::clicked, this, [this] { goOn(m_goOnPath); });

    m_table = new QTableWidget(0, Columns);
    m_table->setObjectName(QStringLiteral("cabinetTable"));
    m_table->setAccessibleName(QStringLiteral("应有模块与找到的模块"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("站号"), QStringLiteral("模块位号"),
                                        QStringLiteral("找到"), QStringLiteral("备注"), QString()});
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(FoundColumn, QHeaderView::Stretch);
    m_table->setMinimumHeight(160);
    form->addRow(m_table);

    m_doNotSwitch = new QLineEdit;
    m_doNotSwitch->setObjectName(QStringLiteral("cabinetDoNotSwitchEdit"));
    m_doNotSwitch->setAccessibleName(QStringLiteral("不允许动作的输出"));
    m_doNotSwitch->setPlaceholderText(QStringLiteral("例如 5:Y2 9:Y5"));
    form->addRow(QStringLiteral("不允许动作的输出"), m_doNotSwitch);
    form->addRow(m_message = new QLabel);
    m_message->setObjectName(QStringLiteral("cabinetMessage"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #B00000"));
    setCommitPage(true);

    connect(m_surveyButton, &QPushButton::clicked, this, [this] {
        if (m_survey)
            return m_survey->stop();
        survey(false);
    });
    // "取消" and closing the window stop a survey; what it found stays.
    connect(wizard, &QDialog::finished, this, [this] {
        if (m_survey)
            m_survey->stop();
    });
    connect(m_allButton, &QPushButton::clicked, this, [this] {
        if (!m_survey)
            survey(true);
    });
}

CabinetLinePage::~CabinetLinePage() = default;

int CabinetLinePage::nextId() const {
    return CheckoutWizard::ConnectionPage;
}

void CabinetLinePage::initializePage() {
    m_goOnButton->hide();
    if (m_wizard->cabinetJournal())
        return;
    QDir folder(m_wizard->recordFolder());
    const QStringList names =
        folder.entryList({QStringLiteral("CABINET_*.jsonl")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString &name : names) {
        const CabinetContents contents = readCabinetJournal(folder.filePath(name));
        if (contents.refused || contents.record.end || contents.record.header.list != m_list.modules)
            continue;
        m_goOnPath = folder.filePath(name);
        m_goOnButton->setText(
            QStringLiteral("继续未完成的机柜调试 %1（从第一个未完成的模块起，沿用其线路设置）")
                .arg(QFileInfo(name).completeBaseName()));
        m_goOnButton->show();
        return;
    }
}

void CabinetLinePage::goOn(const QString &path) {
    QString error;
    if (!m_wizard->goOnWithCabinet(path, error))
        return say(error);
    m_goOnButton->hide();
    const CabinetRecord record = m_wizard->cabinetRecord();
    m_port->setValue(record.header.port);
    m_baud->setCurrentIndex(record.header.baudCode);
    m_parity->setCurrentIndex(record.header.parityCode);
    for (QWidget *field : std::initializer_list<QWidget *>{m_port, m_baud, m_parity})
        field->setEnabled(false);
    m_finds = record.survey;
    m_surveyed = !record.survey.empty();
    judgeAndShow();
    emit completeChanged();
}

void CabinetLinePage::setList(const CabinetIoList &list) {
    if (list.modules == m_list.modules)
        return;
    m_list = list;
    m_finds.clear();
    m_surveyed = m_surveyedAll = false;
    judgeAndShow();
}

void CabinetLinePage::say(const QString &text) {
    m_message->setText(text);
}

bool CabinetLinePage::isComplete() const {
    if (!m_surveyed || m_survey)
        return false;
    for (const auto &[station, write] : m_writes)
        if (write.write && write.write->isBusy())
            return false;
    return true;
}

void CabinetLinePage::survey(bool allSettings) {
    if (m_list.modules.empty())
        return;
    QString error;
    if (!m_wizard->beginCabinet(m_port->value(), m_baud->currentIndex(), m_parity->currentIndex(), error))
        return say(error);
    // The line's setting is the cabinet journal's from here on.
    for (QWidget *field : std::initializer_list<QWidget *>{m_port, m_baud, m_parity})
        field->setEnabled(false);
    int first = m_list.modules.begin()->first;
    int last = m_list.modules.rbegin()->first;
    std::vector<LineSurvey::LineSetting> settings{{m_baud->currentIndex(), m_parity->currentIndex()}};
    if (allSettings) {
        // Only the stations still missing are asked again, at every setting.
        first = last = 0;
        for (const CabinetRules::Station &s : m_judged.stations)
            if (s.found == CabinetRules::Found::Missing) {
                first = first ? first : s.station;
                last = s.station;
            }
        if (!first)
            return;
        settings = LineSurvey::allSettings();
    }
    m_surveyedAll = m_surveyedAll || allSettings;
    m_survey = std::make_unique<CabinetSurvey>(m_link, m_port->value(), first, last, settings);
    connect(m_survey.get(), &CabinetSurvey::progressed, this, &CabinetLinePage::showProgress);
    connect(m_survey.get(), &CabinetSurvey::finished, this, &CabinetLinePage::surveyed);
    m_surveyButton->setText(QStringLiteral("停止"));
    m_allButton->setEnabled(false);
    say({});
    emit completeChanged();
    m_survey->start();
}

void CabinetLinePage::showProgress() {
    m_progress->setValue(static_cast<int>(m_survey->done() * 1000));
    const LineSurvey::LineSetting at = m_survey->setting();
    const int left = m_survey->secondsLeft();
    m_left->setText(QStringLiteral("%1 %2，站号 %3，找到 %4%5")
                        .arg(LinkWords::baudText(at.baudCode), LinkWords::parityText(at.parityCode))
                        .arg(m_survey->station())
                        .arg(m_survey->modules().size())
                        .arg(left < 0 ? QString() : QStringLiteral("，约剩 %1 秒").arg(left)));
}

void CabinetLinePage::surveyed() {
    std::vector<CabinetFind> found;
    for (const LineSurvey::Module &m : m_survey->modules())
        found.push_back(cabinetFind(m));
    m_finds = CabinetRules::mergeFinds(m_finds, found);
    const LineSurvey::Step step = m_survey->result();
    const QString openError = m_survey->openError();
    // It goes at the next turn: this is its own signal.
    m_survey.release()->deleteLater();
    m_surveyButton->setText(QStringLiteral("扫描"));
    m_allButton->setEnabled(true);
    m_progress->setValue(1000);
    m_left->setText(step == LineSurvey::Step::Stopped ? QStringLiteral("扫描已停止") : QString());
    if (step == LineSurvey::Step::CannotOpen) {
        say(QStringLiteral("无法扫描：%1").arg(openError));
        return emit completeChanged();
    }
    if (CabinetJournalWriter *journal = m_wizard->cabinetJournal();
        journal && !journal->writeSurvey(m_finds, m_surveyedAll))
        say(QStringLiteral("无法写入机柜记录：%1").arg(journal->error()));
    m_surveyed = true;
    judgeAndShow();
    emit completeChanged();
}

void CabinetLinePage::judgeAndShow() {
    m_judged = CabinetRules::judge(m_list.modules, m_finds, m_baud->currentIndex(), m_parity->currentIndex(),
                                   m_surveyedAll);
    m_allButton->setVisible(m_surveyed && m_judged.offerAllSettings);
    // Tags typed on the page stay through a new survey.
    std::map<int, QString> typed;
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (QTableWidgetItem *tag = m_table->item(row, TagColumn); tag && (tag->flags() & Qt::ItemIsEditable))
            typed[m_table->item(row, StationColumn)->text().toInt()] = tag->text();
    m_table->setRowCount(static_cast<int>(m_judged.stations.size()));
    int row = 0;
    for (const CabinetRules::Station &s : m_judged.stations) {
        auto fixed = [](const QString &text) {
            auto *item = new QTableWidgetItem(text);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            return item;
        };
        m_table->setItem(row, StationColumn, fixed(QString::number(s.station)));
        auto *tag = s.listTag.isEmpty() ? new QTableWidgetItem(typed[s.station]) : fixed(s.listTag);
        if (s.listTag.isEmpty())
            tag->setToolTip(
                QStringLiteral("I/O 表未给模块位号，可在此填写；空则记为“站号 %1”").arg(s.station));
        m_table->setItem(row, TagColumn, tag);
        QString found = m_surveyed ? CabinetRules::foundWord(s) : QStringLiteral("未扫描");
        const auto write = m_writes.find(s.station);
        if (write != m_writes.end() && !write->second.said.isEmpty())
            found += u'\n' + write->second.said;
        m_table->setItem(row, FoundColumn, fixed(found));
        m_table->setItem(row, RemarkColumn, fixed(s.remark));
        m_table->removeCellWidget(row, ActionColumn);
        const bool written = write != m_writes.end() && write->second.write;
        if (s.found == CabinetRules::Found::OtherParity && !(written && write->second.write->answered())) {
            auto *button = new QPushButton(written ? QStringLiteral("重试") : QStringLiteral("改写校验方式"));
            button->setObjectName(QStringLiteral("parity%1").arg(s.station));
            connect(button, &QPushButton::clicked, this, [this, station = s.station, written] {
                if (written)
                    m_writes[station].write->retry();
                else
                    offerParity(station);
            });
            m_table->setCellWidget(row, ActionColumn, button);
        }
        ++row;
    }
    m_table->resizeRowsToContents();
}

QString CabinetLinePage::typedTag(int station) const {
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (m_table->item(row, StationColumn)->text().toInt() == station)
            return m_table->item(row, TagColumn)->text();
    return {};
}

void CabinetLinePage::offerParity(int station) {
    int present = -1;
    for (const CabinetRules::Station &s : m_judged.stations)
        if (s.station == station)
            present = s.presentParity;
    auto *box = new QMessageBox(
        QMessageBox::Question, m_wizard->windowTitle(),
        QStringLiteral("将站号 %1 的校验方式由 %2 改为 %3？此设置写入模块，调试结束后不恢复。")
            .arg(station)
            .arg(LinkWords::parityText(present), LinkWords::parityText(m_parity->currentIndex())),
        QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("confirm"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *yes = box->addButton(QStringLiteral("改写"), QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(QStringLiteral("不改写"), QMessageBox::RejectRole));
    connect(box, &QMessageBox::finished, this, [this, box, yes, station] {
        if (box->clickedButton() == yes)
            writeParity(station);
    });
    box->open();
}

void CabinetLinePage::writeParity(int station) {
    const CabinetRules::Station *s = nullptr;
    for (const CabinetRules::Station &at : m_judged.stations)
        if (at.station == station)
            s = &at;
    CabinetJournalWriter *cabinet = m_wizard->cabinetJournal();
    if (!s || !cabinet || m_writes.count(station))
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const CabinetHeader &h = m_wizard->cabinetHeader();
    const QString tag = CabinetRules::moduleTag(station, s->listTag, typedTag(station));
    Write &w = m_writes[station];
    w.name = cabinetModuleName(m_wizard->recordFolder(), h.project, tag, now);
    w.sink = std::make_unique<FileJournalSink>();
    QString error;
    if (!w.sink->open(QDir(m_wizard->recordFolder()).filePath(w.name + QStringLiteral(".jsonl")), error)) {
        m_writes.erase(station);
        return say(QStringLiteral("无法创建记录：%1").arg(error));
    }
    w.journal = std::make_unique<JournalWriter>(*w.sink);
    ParityWrite::Settings settings;
    settings.header = cabinetModuleHeader(h, station, tag, now);
    settings.presentParity = s->presentParity;
    settings.journalName = w.name + QStringLiteral(".jsonl");
    w.write = std::make_unique<ParityWrite>(m_link, *w.journal, *cabinet, settings);
    connect(w.write.get(), &ParityWrite::said, this, [this, station](const QString &text) {
        m_writes[station].said = text;
        judgeAndShow();
    });
    connect(w.write.get(), &ParityWrite::finished, this, [this] {
        judgeAndShow();
        emit completeChanged();
    });
    w.write->start();
    emit completeChanged();
}

bool CabinetLinePage::validatePage() {
    if (m_wizard->cabinetWalk())
        return !m_wizard->cabinetWalk()->isFinished();
    const CabinetRules::DoNotSwitch kept =
        CabinetRules::splitDoNotSwitch(m_doNotSwitch->text(), m_list.modules);
    if (!kept.error.isEmpty()) {
        say(kept.error);
        return false;
    }
    CabinetWalkSettings settings;
    settings.doNotSwitch = kept.byStation;
    const std::vector<ParityChange> changes = m_wizard->cabinetRecord().parityChanges;
    bool any = false;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const CabinetRules::Station &s = m_judged.stations[static_cast<std::size_t>(row)];
        if (s.found == CabinetRules::Found::Unexpected)
            continue;
        settings.tags[s.station] = CabinetRules::moduleTag(s.station, s.listTag, typedTag(s.station));
        settings.notWalked[s.station] = CabinetRules::notWalkedReason(s, changes);
        any = any || settings.notWalked[s.station].isEmpty();
    }
    if (!any) {
        say(QStringLiteral("没有可调试的模块：请检查线路设置，或改写模块的校验方式后再开始。"));
        return false;
    }
    say({});
    if (!m_wizard->startCabinet(settings))
        return false;
    // Gone on with, and every module was already done: the cabinet's record is all there is to make.
    if (m_wizard->cabinetWalk()->isFinished()) {
        say(QStringLiteral("各模块均已完成，机柜记录 %1 已按记录文件夹中的模块记录生成。")
                .arg(m_wizard->cabinetName()));
        return false;
    }
    return true;
}
