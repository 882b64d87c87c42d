#include "CheckoutWizard.h"

#include "CabinetPage.h"
#include "IoList.h"
#include "LineFields.h"
#include "LinkError.h"
#include "ModuleScan.h"
#include "RecordNames.h"
#include "Report.h"
#include "ThreadedLink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWizardPage>

namespace {

QLabel *messageLabel() {
    auto *label = new QLabel;
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #B00000"));
    return label;
}

// A line edit with a "选择…" button beside it.
QWidget *withChooser(QLineEdit *edit, const std::function<void()> &choose) {
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(edit);
    auto *button = new QPushButton(QStringLiteral("选择…"));
    QObject::connect(button, &QPushButton::clicked, choose);
    row->addWidget(button);
    return box;
}

// Names each field of a page's forms after its row's caption, for assistive tools: the caption is the buddy
// of the row's outer widget only, which for a field beside a chooser button is not the field itself.
void nameFormFields(QWidget *page) {
    for (const QFormLayout *form : page->findChildren<QFormLayout *>())
        for (int row = 0; row < form->rowCount(); ++row) {
            const QLayoutItem *caption = form->itemAt(row, QFormLayout::LabelRole);
            const QLayoutItem *field = form->itemAt(row, QFormLayout::FieldRole);
            const auto *label = qobject_cast<QLabel *>(caption ? caption->widget() : nullptr);
            QWidget *input = field ? field->widget() : nullptr;
            if (!label || !input)
                continue;
            if (!input->inherits("QLineEdit") && !input->inherits("QAbstractSpinBox") &&
                !input->inherits("QComboBox"))
                input = input->findChild<QLineEdit *>();
            if (input && input->accessibleName().isEmpty())
                input->setAccessibleName(label->text());
        }
}

// The 18 points, one cell each, coloured by their result: untested, passed, failed, skipped.
class PointGrid : public QWidget {
public:
    PointGrid() {
        setObjectName(QStringLiteral("pointGrid"));
        auto *grid = new QGridLayout(this);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setSpacing(2);
        int column[3] = {0, 0, 0};
        for (const PointId &point : walkOrder()) {
            auto *cell = new QLabel(point.name());
            cell->setAlignment(Qt::AlignCenter);
            cell->setMinimumWidth(36);
            const int row = static_cast<int>(point.kind);
            grid->addWidget(cell, row, column[row]++);
            m_cells.push_back(cell);
        }
        show({});
    }

    void show(const std::vector<PointResult> &table) {
        static const char *colours[] = {"#E0E0E0", "#8FD694", "#F28B82", "#FFE08A"};
        for (size_t i = 0; i < m_cells.size(); ++i) {
            const Result result = i < table.size() ? table[i].result : Result::Untested;
            m_cells[i]->setStyleSheet(
                QStringLiteral("background: %1; padding: 2px").arg(QLatin1String(colours[int(result)])));
            m_cells[i]->setAccessibleName(m_cells[i]->text() + u' ' + resultWord(result));
            m_cells[i]->setToolTip(i < table.size() ? table[i].observed : QString());
        }
    }

private:
    std::vector<QLabel *> m_cells;
};

// The module as found, as far as a stage's page needs it.
QString asFoundLine(Stage stage, const ModuleSnapshot &s) {
    auto value = [](int v) {
        return v == ModuleSnapshot::Unread ? QStringLiteral("未读") : QString::number(v);
    };
    QStringList parts;
    if (stage == Stage::Outputs)
        for (int y = 0; y < ModuleMap::OutputCount; ++y)
            parts << QStringLiteral("Y%1 %2").arg(y + 1).arg(s.outputs[y] == ModuleSnapshot::Unread
                                                                 ? value(s.outputs[y])
                                                             : s.outputs[y] ? QStringLiteral("闭合")
                                                                            : QStringLiteral("断开"));
    if (stage == Stage::Inputs)
        for (int x = 0; x < ModuleMap::InputCount; ++x)
            parts << QStringLiteral("X%1 %2").arg(x + 1).arg(value(s.inputs[x]));
    if (stage == Stage::Counters)
        for (int c = 0; c < ModuleMap::CounterCount; ++c)
            parts << QStringLiteral("C%1 计数 %2 预置 %3")
                         .arg(c + 1)
                         .arg(value(s.counts[c]), value(s.presets[c]));
    return parts.isEmpty() ? QString() : QStringLiteral("调试前：") + parts.join(QStringLiteral("，"));
}

// A line edit named for tests and screen readers alike.
QLineEdit *namedEdit(const char *objectName, const QString &accessibleName) {
    auto *edit = new QLineEdit;
    edit->setObjectName(QLatin1String(objectName));
    edit->setAccessibleName(accessibleName);
    return edit;
}

// Whether a list's first row has a station column, also in a list saved in the local code page (GBK), which
// the list's reader refuses before reading its header: its refusal is then worded for a cabinet.
bool namesStations(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray first = file.readLine(4096);
    return first.contains("站号") || first.contains("\xD5\xBE\xBA\xC5") ||
           first.toLower().contains("station");
}

class HeaderPage : public QWizardPage {
public:
    explicit HeaderPage(CheckoutWizard *wizard)
        : m_wizard(wizard) {
        setTitle(QStringLiteral("记录表头"));
        setSubTitle(QStringLiteral("填写项目、位置、模块位号和人员；可选 I/O 表补入各点位号。"));
        auto *form = new QFormLayout(this);
        auto row = [form](const QString &label, const char *name) {
            QLineEdit *edit = namedEdit(name, label);
            form->addRow(label, edit);
            return edit;
        };
        m_project = row(QStringLiteral("项目/现场"), "projectEdit");
        m_location = row(QStringLiteral("位置（柜）"), "locationEdit");
        m_tag = row(QStringLiteral("模块位号"), "tagEdit");
        m_engineer = row(QStringLiteral("调试人"), "engineerEdit");
        m_witness = row(QStringLiteral("见证人"), "witnessEdit");
        m_ioList = namedEdit("ioListEdit", QStringLiteral("I/O 表"));
        form->addRow(QStringLiteral("I/O 表（可选）"), withChooser(m_ioList, [this] {
                         const QString file = QFileDialog::getOpenFileName(
                             this, QStringLiteral("选择 I/O 表"), {}, QStringLiteral("CSV (*.csv)"));
                         if (!file.isEmpty())
                             m_ioList->setText(file);
                     }));
        m_folder = namedEdit("folderEdit", QStringLiteral("记录文件夹"));
        m_folder->setText(QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                              .filePath(QStringLiteral("QM4107")));
        form->addRow(QStringLiteral("记录文件夹"), withChooser(m_folder, [this] {
                         const QString dir = QFileDialog::getExistingDirectory(
                             this, QStringLiteral("选择记录文件夹"), m_folder->text());
                         if (!dir.isEmpty())
                             m_folder->setText(dir);
                     }));
        form->addRow(m_message = messageLabel());
        m_message->setObjectName(QStringLiteral("headerMessage"));
        form->addRow(m_leftChanged = messageLabel());
        m_leftChanged->setObjectName(QStringLiteral("leftChangedMessage"));
        auto *putBackRow = new QHBoxLayout;
        putBackRow->addWidget(m_putBack = new QPushButton(QStringLiteral("恢复输出")));
        putBackRow->addWidget(m_waive = new QPushButton(QStringLiteral("不恢复，继续")));
        putBackRow->addStretch();
        m_putBack->setObjectName(QStringLiteral("putBackButton"));
        m_waive->setObjectName(QStringLiteral("waiveButton"));
        form->addRow(putBackRow);
        form->addRow(m_resume = new QCheckBox);
        m_resume->setObjectName(QStringLiteral("resumeCheck"));
        QObject::connect(m_putBack, &QPushButton::clicked, wizard, &CheckoutWizard::putBackLeftChanged);
        QObject::connect(m_waive, &QPushButton::clicked, wizard, &CheckoutWizard::waiveLeftChanged);
        QObject::connect(m_folder, &QLineEdit::editingFinished, wizard, &CheckoutWizard::findLeftChanged);
        registerField(QStringLiteral("project*"), m_project);
        registerField(QStringLiteral("tag"), m_tag);
        // A cabinet's list names its modules: the tag above is then not asked for.
        connect(m_ioList, &QLineEdit::textChanged, this, [this](const QString &path) {
            const bool cabinet =
                QFileInfo(path.trimmed()).isFile() && !CabinetIoList::read(path.trimmed()).oneModule;
            if (cabinet != m_cabinet) {
                m_cabinet = cabinet;
                emit completeChanged();
            }
        });
        connect(m_tag, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
        registerField(QStringLiteral("engineer*"), m_engineer);
    }

    // This page's part of the setup.
    void apply(CheckoutSetup &setup) const {
        RecordHeader &h = setup.header;
        h.project = m_project->text().trimmed();
        h.location = m_location->text().trimmed();
        h.moduleTag = m_tag->text().trimmed();
        h.engineer = m_engineer->text().trimmed();
        h.witness = m_witness->text().trimmed();
        setup.ioListPath = m_ioList->text().trimmed();
        setup.folder = m_folder->text().trimmed();
    }
    // A journal's header, to go on with it.
    void fill(const RecordHeader &h) {
        m_project->setText(h.project);
        m_location->setText(h.location);
        m_tag->setText(h.moduleTag);
        m_engineer->setText(h.engineer);
        m_witness->setText(h.witness);
    }
    QString folder() const { return m_folder->text().trimmed(); }
    QCheckBox *resumeCheck() const { return m_resume; }

    // What the records folder holds: a killed walk's values to put back or waive, an unfinished walk to go
    // on with.
    void showFolder(const RecordsFolder &folder) {
        if (const auto &left = folder.leftChanged())
            m_leftChanged->setText(
                QStringLiteral("上次调试 %1 中断时 %2 可能仍处于改动状态。请先按“恢复输出”恢复到调试前状态，"
                               "或按“不恢复，继续”保持现状（记入该记录）。")
                    .arg(QFileInfo(left->path).fileName(),
                         left->contents.record.leftChanged().join(QStringLiteral("、"))));
        const bool left = folder.leftChanged().has_value();
        m_leftChanged->setVisible(left);
        m_putBack->setVisible(left);
        m_waive->setVisible(left);
        // The newest journal without its closing line can be gone on with, on its own header's settings.
        if (const auto &unfinished = folder.unfinished())
            m_resume->setText(
                QStringLiteral(
                    "继续未完成的调试 %1（先恢复其改动，再从第一个未测点起，沿用其表头和连接设置）")
                    .arg(QFileInfo(unfinished->path).fileName()));
        m_resume->setVisible(folder.unfinished().has_value());
        m_resume->setChecked(false);
        emit completeChanged();
    }
    // The put-back's progress and outcome; nothing new keeps what is said shown.
    void sayLeftChanged(const QString &text) {
        if (!text.isEmpty())
            m_leftChanged->setText(text);
        m_leftChanged->setVisible(true);
    }
    void setPutBackRunning(bool running) {
        m_putBack->setEnabled(!running);
        m_waive->setEnabled(!running);
        emit completeChanged();
    }

    bool validatePage() override {
        const QString ioPath = m_ioList->text().trimmed();
        CabinetIoList list;
        if (!ioPath.isEmpty()) {
            list = CabinetIoList::read(ioPath);
            if (!list.error.isEmpty()) {
                m_message->setText(namesStations(ioPath) ? list.error : IoList::read(ioPath).error);
                return false;
            }
        }
        m_cabinet = !ioPath.isEmpty() && !list.oneModule;
        // Said now, before anything is touched, with the choice of another folder.
        const QString folder = m_folder->text().trimmed();
        QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("probe-XXXXXX")));
        if (folder.isEmpty() || !QDir().mkpath(folder) || !probe.open()) {
            m_message->setText(QStringLiteral("记录文件夹 %1 不能写入，请选择其他文件夹。").arg(folder));
            return false;
        }
        if (const QString tooLong = RecordNames::folderProblem(folder); !tooLong.isEmpty()) {
            m_message->setText(tooLong);
            return false;
        }
        m_message->clear();
        m_wizard->useCabinetList(m_cabinet ? list : CabinetIoList{});
        return true;
    }
    int nextId() const override {
        return m_cabinet ? CheckoutWizard::CabinetLinePage : CheckoutWizard::LinePage;
    }

    // A killed walk's test values are put back or waived before a new walk starts.
    bool isComplete() const override {
        return QWizardPage::isComplete() && (m_cabinet || !m_tag->text().trimmed().isEmpty()) &&
               !m_wizard->leftChangedPending();
    }
    // The header stays as it was when the connection check sends the engineer back.
    void cleanupPage() override {}

private:
    CheckoutWizard *m_wizard;
    QLineEdit *m_project;
    QLineEdit *m_location;
    QLineEdit *m_tag;
    QLineEdit *m_engineer;
    QLineEdit *m_witness;
    QLineEdit *m_ioList;
    QLineEdit *m_folder;
    QLabel *m_message;
    QLabel *m_leftChanged;
    QPushButton *m_putBack;
    QPushButton *m_waive;
    QCheckBox *m_resume;
    bool m_cabinet = false; // the list chosen is a cabinet's
};

class LinePage : public QWizardPage {
public:
    LinePage(CheckoutWizard *wizard, ExchangeLink &link)
        : m_wizard(wizard)
        , m_link(link) {
        setTitle(QStringLiteral("连接"));
        setSubTitle(QStringLiteral("端口、站号、波特率和校验方式与面板相同。开始后不能返回。"));
        auto *form = new QFormLayout(this);
        m_port = LineFields::addPort(form, "portSpin");
        m_station = LineFields::addStation(form, "stationSpin");
        m_baud = LineFields::addBaud(form, "baudCombo");
        m_parity = LineFields::addParity(form, "parityCombo");
        // The scan fills in station, baud rate and parity for the port chosen above.
        auto *scanRow = new QHBoxLayout;
        scanRow->addWidget(m_scanButton = new QPushButton(QStringLiteral("扫描")));
        m_scanButton->setObjectName(QStringLiteral("scanButton"));
        scanRow->addWidget(m_scanMessage = new QLabel, 1);
        m_scanMessage->setObjectName(QStringLiteral("scanMessage"));
        m_scanMessage->setWordWrap(true);
        form->addRow(scanRow);
        m_doNotSwitch = namedEdit("doNotSwitchEdit", QStringLiteral("不允许动作的输出"));
        m_doNotSwitch->setPlaceholderText(QStringLiteral("例如 Y2 Y5"));
        form->addRow(QStringLiteral("不允许动作的输出"), m_doNotSwitch);
        form->addRow(m_message = messageLabel());
        m_message->setObjectName(QStringLiteral("lineMessage"));
        setCommitPage(true);
        m_scanTimer.setSingleShot(true);
        connect(&m_scanTimer, &QTimer::timeout, this, &LinePage::scanStep);
        connect(m_scanButton, &QPushButton::clicked, this, [this] {
            if (m_scan)
                return endScan(QStringLiteral("扫描已停止"));
            m_scan = std::make_shared<std::unique_ptr<ModuleScan>>();
            m_scanPort = m_port->value();
            m_scanButton->setText(QStringLiteral("停止"));
            setFieldsEnabled(false);
            emit completeChanged();
            m_scanTimer.start(0);
        });
        // "取消" and closing the window release the port.
        connect(wizard, &QDialog::finished, this, [this] {
            if (m_scan)
                endScan({});
        });
    }

    bool validatePage() override {
        if (m_scan)
            endScan({});
        return m_wizard->startWalk();
    }

    // This page's part of the setup.
    void apply(CheckoutSetup &setup) const {
        RecordHeader &h = setup.header;
        h.port = m_port->value();
        h.station = m_station->value();
        h.baudCode = m_baud->currentIndex();
        h.parityCode = m_parity->currentIndex();
        for (const QString &name : m_doNotSwitch->text().toUpper().split(
                 QRegularExpression(QStringLiteral("[\\s,，]+")), Qt::SkipEmptyParts))
            setup.doNotSwitch.insert(name);
    }
    // A journal's line settings, to go on with it.
    void fill(const RecordHeader &h) {
        m_port->setValue(h.port);
        m_station->setValue(h.station);
        m_baud->setCurrentIndex(h.baudCode);
        m_parity->setCurrentIndex(h.parityCode);
    }
    void say(const QString &text) { m_message->setText(text); }
    void cleanupPage() override {
        if (m_scan)
            endScan({});
    }
    // "开始调试" waits for a scan to end, and for a put-back.
    bool isComplete() const override { return !m_scan && !m_wizard->putBackRunning(); }

private:
    // Where the scan is after a step, as the link's thread saw it.
    struct ScanSeen {
        ModuleScan::Step step = ModuleScan::Step::Scanning;
        int32_t baudCode = 0;
        int32_t parityCode = 0;
        int32_t station = 0;
        int32_t waitMs = 0;
        ModuleScan::Found found;
        std::string openError;
        std::optional<std::string> noLibrary;
    };

    // One exchange of the scan a unit on the link, with the pause it asks for between them. The scan itself
    // is made, stepped and destroyed only by units; the page reads what a step saw.
    void scanStep() {
        if (!m_scan)
            return;
        auto seen = std::make_shared<ScanSeen>();
        m_link.post(
            ExchangeLink::Priority::Operator, m_scanPort,
            [scan = m_scan, seen, port = m_scanPort](Modbus485 &library) {
                try {
                    if (!*scan)
                        *scan = std::make_unique<ModuleScan>(library, port);
                    ModuleScan &s = **scan;
                    seen->step = s.step();
                    seen->baudCode = s.baudCode();
                    seen->parityCode = s.parityCode();
                    seen->station = s.station();
                    seen->waitMs = s.waitMs();
                    seen->found = s.found();
                    seen->openError = s.openError();
                } catch (const LinkError &error) {
                    seen->noLibrary = error.what();
                }
            },
            this,
            [this, scan = m_scan, seen] {
                if (scan == m_scan)
                    scanStepped(*seen);
            });
    }

    void scanStepped(const ScanSeen &seen) {
        if (seen.noLibrary)
            return endScan(
                QStringLiteral("找不到 MODBUS485 库：%1").arg(QString::fromStdString(*seen.noLibrary)));
        const QString baud = m_baud->itemText(seen.baudCode);
        switch (seen.step) {
        case ModuleScan::Step::Scanning:
            m_scanMessage->setText(QStringLiteral("正在扫描：%1 bps，%2，站号 %3")
                                       .arg(baud, m_parity->itemText(seen.parityCode))
                                       .arg(seen.station));
            m_scanTimer.start(seen.waitMs);
            return;
        case ModuleScan::Step::Found: {
            const ModuleScan::Found found = seen.found;
            m_station->setValue(found.station);
            m_baud->setCurrentIndex(found.baudCode);
            m_parity->setCurrentIndex(found.parityCode);
            return endScan(QStringLiteral("找到模块：站号 %1，%2 bps，%3，应答 %4 ms")
                               .arg(found.station)
                               .arg(m_baud->itemText(found.baudCode), m_parity->itemText(found.parityCode))
                               .arg(found.answerUs / 1000.0, 0, 'f', 1));
        }
        case ModuleScan::Step::CannotOpen:
            return endScan(QString::fromStdString(seen.openError));
        case ModuleScan::Step::NothingAnswered:
        case ModuleScan::Step::Stopped:
            return endScan(QStringLiteral("未找到模块"));
        }
    }

    // Ends the scan where it is and says `message`. The port is released by a unit after any step still
    // queued, before anything asked later (the walk's open).
    void endScan(const QString &message) {
        m_scanTimer.stop();
        if (m_scan)
            m_link.post(ExchangeLink::Priority::Operator, m_scanPort,
                        [scan = std::exchange(m_scan, {})](Modbus485 &) { scan->reset(); }, nullptr, {});
        m_scanButton->setText(QStringLiteral("扫描"));
        setFieldsEnabled(true);
        m_scanMessage->setText(message);
        emit completeChanged();
    }

    void setFieldsEnabled(bool enabled) {
        for (QWidget *field : std::initializer_list<QWidget *>{m_port, m_station, m_baud, m_parity})
            field->setEnabled(enabled);
    }

    CheckoutWizard *m_wizard;
    ExchangeLink &m_link;
    QSpinBox *m_port;
    QSpinBox *m_station;
    QComboBox *m_baud;
    QComboBox *m_parity;
    QLineEdit *m_doNotSwitch;
    QLabel *m_message;
    // The scan running, or null; its ModuleScan lives on the link's side.
    std::shared_ptr<std::unique_ptr<ModuleScan>> m_scan;
    int32_t m_scanPort = 0;
    QTimer m_scanTimer;
    QPushButton *m_scanButton;
    QLabel *m_scanMessage;
};

// One stage of the walk: the question up, its buttons, a remark, and what has been done so far.
class WalkPage : public QWizardPage {
public:
    WalkPage(CheckoutWizard *wizard, Stage stage, const QString &title, const QString &subTitle)
        : m_wizard(wizard)
        , m_stage(stage) {
        setTitle(title);
        setSubTitle(subTitle);
        auto *column = new QVBoxLayout(this);
        column->addWidget(m_grid = new PointGrid);
        column->addWidget(m_found = new QLabel);
        m_found->setWordWrap(true);
        m_question = new QLabel;
        m_question->setWordWrap(true);
        QFont big = m_question->font();
        big.setPointSizeF(big.pointSizeF() * 1.3);
        m_question->setFont(big);
        column->addWidget(m_question);
        auto *answerRow = new QHBoxLayout;
        m_number = new QSpinBox;
        m_number->setRange(1, 65535);
        m_number->setAccessibleName(QStringLiteral("数值"));
        answerRow->addWidget(m_number);
        m_tolerance = new QDoubleSpinBox;
        m_tolerance->setRange(0, 100);
        m_tolerance->setDecimals(1);
        m_tolerance->setPrefix(QStringLiteral("±"));
        m_tolerance->setSuffix(QStringLiteral(" %"));
        m_tolerance->setAccessibleName(QStringLiteral("允许偏差"));
        answerRow->addWidget(m_tolerance);
        m_buttons = new QHBoxLayout;
        answerRow->addLayout(m_buttons);
        answerRow->addStretch();
        column->addLayout(answerRow);
        auto *remarkRow = new QHBoxLayout;
        remarkRow->addWidget(new QLabel(QStringLiteral("备注")));
        remarkRow->addWidget(m_remark = new QLineEdit);
        m_remark->setAccessibleName(QStringLiteral("备注"));
        column->addLayout(remarkRow);
        column->addWidget(m_status = new QLabel);
        m_status->setWordWrap(true);
        column->addWidget(m_done = new QPlainTextEdit);
        m_done->setReadOnly(true);
        show(std::nullopt);
    }

    void initializePage() override {
        CheckoutWalk *walk = m_wizard->walk();
        if (walk && walk->record().asFound)
            m_found->setText(asFoundLine(m_stage, *walk->record().asFound));
        if (walk)
            m_grid->show(walk->record().table());
        if (!walk || walk == m_walk)
            return;
        m_walk = walk;
        connect(walk, &CheckoutWalk::countSeen, this, [this](int counter, int count) {
            if (isCurrent())
                m_status->setText(QStringLiteral("C%1 当前计数 %2").arg(counter).arg(count));
        });
        connect(walk, &CheckoutWalk::asked, this, [this](const Question &q) {
            if (isCurrent())
                show(q);
        });
        connect(walk, &CheckoutWalk::status, this, [this](const QString &text) {
            if (isCurrent())
                m_status->setText(text);
        });
        connect(walk, &CheckoutWalk::problem, this, [this](const QString &text) {
            if (isCurrent())
                m_status->setText(text);
        });
        connect(walk, &CheckoutWalk::pointDone, this, [this](const PointResult &r) {
            if (!isCurrent())
                return;
            m_grid->show(m_walk->record().table());
            m_done->appendPlainText(QStringLiteral("%1  %2  %3%4")
                                        .arg(r.point.name(), resultWord(r.result), r.observed,
                                             r.defect == Defect::None
                                                 ? QString()
                                                 : QStringLiteral("  缺陷类别：") + defectWord(r.defect)));
            show(std::nullopt);
        });
        connect(walk, &CheckoutWalk::stageChanged, this, [this] { emit completeChanged(); });
        show(walk->question());
    }

    bool isComplete() const override { return m_wizard->walk() && m_wizard->walk()->stage() > m_stage; }

    QLabel *questionLabel() const { return m_question; }

private:
    bool isCurrent() const { return m_wizard->currentPage() == this; }

    void show(const std::optional<Question> &question) {
        while (QLayoutItem *item = m_buttons->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        m_question->setText(question ? question->text : QStringLiteral("请稍候…"));
        m_number->setVisible(question && question->wantsNumber);
        if (question && question->wantsNumber)
            m_number->setValue(question->number);
        m_number->setSuffix(question && question->wantsTolerance ? QStringLiteral(" Hz") : QString());
        m_tolerance->setVisible(question && question->wantsTolerance);
        if (question && question->wantsTolerance)
            m_tolerance->setValue(question->tolerance);
        if (!question)
            return;
        for (const Choice choice : question->choices) {
            auto *button = new QPushButton(choiceWord(choice));
            button->setObjectName(QStringLiteral("choice%1").arg(static_cast<int>(choice)));
            connect(button, &QPushButton::clicked, this, [this, choice] {
                Reply reply{choice, m_remark->text(), m_number->value(), Defect::None, m_tolerance->value()};
                m_remark->clear();
                m_wizard->walk()->answer(reply);
            });
            m_buttons->addWidget(button);
            button->show();
        }
    }

    CheckoutWizard *m_wizard;
    Stage m_stage;
    QPointer<CheckoutWalk> m_walk; // the walk its signals come from
    PointGrid *m_grid;
    QLabel *m_found;
    QLabel *m_question;
    QSpinBox *m_number;
    QDoubleSpinBox *m_tolerance;
    QHBoxLayout *m_buttons;
    QLineEdit *m_remark;
    QLabel *m_status;
    QPlainTextEdit *m_done;
};

class SummaryPage : public QWizardPage {
public:
    explicit SummaryPage(CheckoutWizard *wizard)
        : m_wizard(wizard) {
        setTitle(QStringLiteral("调试后状态与小结"));
        setSubTitle(QStringLiteral("改动过的输出和预置值已恢复并回读。填写备注后按“生成记录”。"));
        auto *column = new QVBoxLayout(this);
        column->addWidget(m_grid = new PointGrid);
        // Two short lines: the tally and the line's counters.
        column->addWidget(m_summary = new QLabel);
        m_summary->setObjectName(QStringLiteral("summaryText"));
        m_summary->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        column->addWidget(m_table = new QTableWidget(0, 5), 1);
        m_table->setObjectName(QStringLiteral("summaryTable"));
        m_table->setMinimumHeight(120);
        m_table->setAccessibleName(QStringLiteral("各点结果"));
        m_table->setHorizontalHeaderLabels({QStringLiteral("点"), QStringLiteral("结果"),
                                            QStringLiteral("观察"), QStringLiteral("现场确认"),
                                            QStringLiteral("缺陷类别")});
        m_table->verticalHeader()->hide();
        m_table->setWordWrap(true);
        m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
        auto *remarkRow = new QHBoxLayout;
        remarkRow->addWidget(new QLabel(QStringLiteral("备注")));
        remarkRow->addWidget(m_remark = namedEdit("remarkEdit", QStringLiteral("备注")));
        column->addLayout(remarkRow);
        auto *buttons = new QHBoxLayout;
        auto *write = m_write = new QPushButton(QStringLiteral("生成记录"));
        write->setObjectName(QStringLiteral("writeRecord"));
        write->setEnabled(false); // until the walk has put everything back and read the module again
        auto *open = new QPushButton(QStringLiteral("打开文件夹"));
        open->setEnabled(false);
        buttons->addWidget(write);
        buttons->addWidget(open);
        buttons->addStretch();
        column->addLayout(buttons);
        column->addWidget(m_message = new QLabel);
        m_message->setObjectName(QStringLiteral("recordMessage"));
        m_message->setWordWrap(true);
        connect(write, &QPushButton::clicked, this, [this, write, open] {
            if (m_wizard->writeRecord()) {
                write->setEnabled(false);
                open->setEnabled(true);
            }
            emit completeChanged();
        });
        connect(open, &QPushButton::clicked, this,
                [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_wizard->recordFolder())); });
    }

    void initializePage() override {
        if (m_wizard->walk())
            m_grid->show(m_wizard->walk()->record().table());
    }
    int nextId() const override { return -1; }
    // The walk has put everything back and read the module again: the record can be made.
    void walkEnded(CheckoutWalk &walk) {
        m_grid->show(walk.record().table());
        m_summary->setText(summary(walk));
        fillTable(walk);
        m_table->setEnabled(true); // a cabinet's next module
        m_write->setEnabled(true);
    }
    QString remark() const { return m_remark->text().trimmed(); }
    void say(const QString &text) { m_message->setText(text); }
    // Once the record is made, a failure's class stays as written.
    void recordWritten() { m_table->setEnabled(false); }

private:
    static QString summary(CheckoutWalk &walk) {
        QStringList lines{tallyText(walk.record().tally()),
                          QStringLiteral("线路计数：") + walk.countersSoFar().text()};
        for (const QString &output : walk.unknownOutputs())
            lines.prepend(QStringLiteral("%1 状态未知").arg(output));
        return lines.join(u'\n');
    }

    // One row a point; a failure's class can be changed until the record is made, each change journaled.
    void fillTable(CheckoutWalk &walk) {
        const std::vector<PointResult> table = walk.record().table();
        m_table->setRowCount(static_cast<int>(table.size()));
        for (int row = 0; row < m_table->rowCount(); ++row) {
            const PointResult &r = table[row];
            const QStringList cells{r.point.name(), resultWord(r.result), r.observed, r.field,
                                    defectWord(r.defect)};
            for (int column = 0; column < cells.size(); ++column)
                m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
            if (r.result != Result::Fail)
                continue;
            auto *defect = new QComboBox;
            defect->setAccessibleName(r.point.name() + QStringLiteral(" 缺陷类别"));
            for (const Defect d :
                 {Defect::Module, Defect::Wiring, Defect::FieldDevice, Defect::Comms, Defect::Other})
                defect->addItem(defectWord(d), static_cast<int>(d));
            defect->setCurrentIndex(defect->findData(static_cast<int>(r.defect)));
            connect(defect, &QComboBox::currentIndexChanged, this,
                    [walk = QPointer<CheckoutWalk>(&walk), defect, point = r.point] {
                        if (walk)
                            walk->amend(point, static_cast<Defect>(defect->currentData().toInt()));
                    });
            m_table->setCellWidget(row, 4, defect);
        }
        m_table->resizeRowsToContents();
    }

    CheckoutWizard *m_wizard;
    PointGrid *m_grid;
    QLabel *m_summary;
    QTableWidget *m_table;
    QLineEdit *m_remark;
    QPushButton *m_write;
    QLabel *m_message;
};

::HeaderPage *headerPage(const QWizard *wizard) {
    return static_cast<::HeaderPage *>(wizard->page(CheckoutWizard::HeaderPage));
}
::LinePage *linePage(const QWizard *wizard) {
    return static_cast<::LinePage *>(wizard->page(CheckoutWizard::LinePage));
}
::SummaryPage *summaryPage(const QWizard *wizard) {
    return static_cast<::SummaryPage *>(wizard->page(CheckoutWizard::SummaryPage));
}
::CabinetLinePage *cabinetPage(const QWizard *wizard) {
    return static_cast<::CabinetLinePage *>(wizard->page(CheckoutWizard::CabinetLinePage));
}

} // namespace

CheckoutWizard::CheckoutWizard(Modbus485 &library, QWidget *parent)
    : CheckoutWizard(std::make_unique<ThreadedLink>(library), parent) {}

CheckoutWizard::CheckoutWizard(std::unique_ptr<ExchangeLink> link, QWidget *parent)
    : QWizard(parent)
    , m_link(std::move(link)) {
    setWindowTitle(QStringLiteral("QM4107调试向导"));
    setWizardStyle(QWizard::ClassicStyle);
    setButtonText(QWizard::BackButton, QStringLiteral("上一步"));
    setButtonText(QWizard::NextButton, QStringLiteral("下一步"));
    setButtonText(QWizard::CommitButton, QStringLiteral("开始调试"));
    setButtonText(QWizard::FinishButton, QStringLiteral("完成"));
    setButtonText(QWizard::CancelButton, QStringLiteral("取消"));
    setOption(QWizard::NoBackButtonOnLastPage);
    setPage(HeaderPage, new ::HeaderPage(this));
    setPage(LinePage, new ::LinePage(this, *m_link));
    setPage(ConnectionPage, new WalkPage(this, Stage::Connection, QStringLiteral("通讯检查"),
                                         QStringLiteral("连续读取十次，全部正确后继续。")));
    setPage(AsFoundPage,
            new WalkPage(this, Stage::AsFound, QStringLiteral("调试前状态"),
                         QStringLiteral("读取并记录输入、输出、计数、预置、清零方式、频率和模块校验。")));
    setPage(OutputsPage, new WalkPage(this, Stage::Outputs, QStringLiteral("输出 Y1-Y5"),
                                      QStringLiteral("逐个接通、回读、确认现场负载、恢复。")));
    setPage(InputsPage, new WalkPage(this, Stage::Inputs, QStringLiteral("输入 X1-X10"),
                                     QStringLiteral("逐个在现场动作输入并复原。")));
    setPage(CountersPage,
            new WalkPage(this, Stage::Counters, QStringLiteral("计数器 C1-C3"),
                         QStringLiteral("清零、输入脉冲、预置回读、恢复预置；可选对照已知信号测频。")));
    setPage(SummaryPage, new ::SummaryPage(this));
    setPage(CabinetLinePage, new ::CabinetLinePage(this, *m_link));
    for (const int id : pageIds())
        nameFormFields(page(id));
    // Once the walk has touched the module there is no way back: the pages follow the walk.
    connect(this, &QWizard::currentIdChanged, this, [this](int id) {
        if (id >= ConnectionPage && id != CabinetLinePage)
            setButtonLayout(
                {QWizard::Stretch, QWizard::NextButton, QWizard::FinishButton, QWizard::CancelButton});
    });
    resize(720, 560);
    // A 1024-pixel screen holds it: long texts wrap instead of widening it.
    setMaximumWidth(1024);
    connect(headerPage(this)->resumeCheck(), &QCheckBox::toggled, this, [this](bool on) {
        if (!on || !m_folder.unfinished())
            return;
        const RecordHeader &h = m_folder.unfinished()->contents.record.header;
        headerPage(this)->fill(h);
        linePage(this)->fill(h);
    });
    findLeftChanged();
}

void CheckoutWizard::findLeftChanged() {
    m_folder.scan(recordFolder());
    headerPage(this)->showFolder(m_folder);
}

bool CheckoutWizard::leftChangedPending() const {
    return m_folder.leftChanged().has_value() || putBackRunning();
}

void CheckoutWizard::waiveLeftChanged() {
    QString error;
    if (putBackRunning())
        return;
    if (!m_folder.waive(error)) {
        headerPage(this)->sayLeftChanged(QStringLiteral("无法写入：%1").arg(error));
        return;
    }
    findLeftChanged();
}

void CheckoutWizard::putBackLeftChanged() {
    if (!m_folder.leftChanged() || putBackRunning())
        return;
    const RecordsFolder::Journal left = *m_folder.leftChanged();
    m_putBack.reset();
    m_putBackSink = std::make_unique<FileJournalSink>();
    QString error;
    if (!m_putBackSink->open(left.path, error)) {
        headerPage(this)->sayLeftChanged(QStringLiteral("无法打开 %1：%2").arg(left.path, error));
        return;
    }
    m_putBackJournal = std::make_unique<JournalWriter>(*m_putBackSink);
    WalkSettings settings;
    settings.header = left.contents.record.header;
    if (tuneWalk)
        tuneWalk(settings);
    m_putBack = std::make_unique<CheckoutWalk>(*m_link, *m_putBackJournal, settings);
    connect(m_putBack.get(), &CheckoutWalk::asked, this, [this](const Question &q) {
        // A port that does not open or a module that does not answer: said, and the button tries again.
        headerPage(this)->sayLeftChanged(q.text);
        m_putBack->answer({Choice::BackToLine, {}});
    });
    connect(m_putBack.get(), &CheckoutWalk::status, this,
            [this](const QString &text) { headerPage(this)->sayLeftChanged(text); });
    connect(m_putBack.get(), &CheckoutWalk::finished, this, [this, left](bool allBack) {
        const QStringList notBack = m_putBack->notBack();
        findLeftChanged();
        headerPage(this)->setPutBackRunning(false);
        if (allBack)
            headerPage(this)->sayLeftChanged(
                QStringLiteral("已恢复到调试前状态，并记入 %1。").arg(left.path));
        else if (!notBack.isEmpty())
            headerPage(this)->sayLeftChanged(QStringLiteral("未能恢复：%1。请检查线路后再按“恢复输出”。")
                                                 .arg(notBack.join(QStringLiteral("、"))));
        else
            headerPage(this)->sayLeftChanged({});
        emit linePage(this)->completeChanged();
    });
    headerPage(this)->setPutBackRunning(true);
    m_putBack->startPutBack(left.contents.record);
}

CheckoutWizard::~CheckoutWizard() {
    // The cabinet page's survey lets go of the port through the link, which goes with this wizard.
    cabinetPage(this)->release();
}

CheckoutWalk *CheckoutWizard::walk() const {
    return m_cabinet ? m_cabinet->walk() : m_walk.get();
}

QString CheckoutWizard::recordFolder() const {
    return headerPage(this)->folder();
}

CheckoutSetup CheckoutWizard::setup() const {
    CheckoutSetup setup;
    headerPage(this)->apply(setup);
    linePage(this)->apply(setup);
    return setup;
}

bool CheckoutWizard::startWalk() {
    if (m_walk)
        return true;
    const CheckoutSetup chosen = setup();
    m_header = chosen.header;
    RecordHeader &h = m_header;
    h.programVersion = QCoreApplication::applicationVersion();
    const QDateTime start = QDateTime::currentDateTime();
    h.start = CheckoutWalk::isoTime(start);
    if (!chosen.ioListPath.isEmpty())
        h.io = IoList::read(chosen.ioListPath).entries;

    const QDir folder(chosen.folder);
    std::optional<JournalContents> resumed;
    if (m_folder.unfinished() && headerPage(this)->resumeCheck()->isChecked()) {
        resumed = m_folder.unfinished()->contents;
        h = resumed->record.header;
        m_name = QFileInfo(m_folder.unfinished()->path).completeBaseName();
    } else {
        m_name = RecordNames::unusedBaseName(
            folder.path(),
            RecordNames::baseName(h.project, h.moduleTag, start, RecordNames::roomIn(folder.path())));
    }
    m_sink = std::make_unique<FileJournalSink>();
    QString error;
    if (!m_sink->open(folder.filePath(m_name + QStringLiteral(".jsonl")), error)) {
        linePage(this)->say(QStringLiteral("无法创建记录：%1").arg(error));
        return false;
    }
    m_journal = std::make_unique<JournalWriter>(*m_sink);
    WalkSettings settings;
    settings.header = h;
    settings.tracePath = folder.filePath(m_name + QStringLiteral(".trace"));
    settings.doNotSwitch = chosen.doNotSwitch;
    if (tuneWalk)
        tuneWalk(settings);
    m_walk = std::make_unique<CheckoutWalk>(*m_link, *m_journal, settings);
    connect(m_walk.get(), &CheckoutWalk::stageChanged, this, &CheckoutWizard::onStage);
    connect(m_walk.get(), &CheckoutWalk::finished, this, &CheckoutWizard::onFinished);
    // Why the walk stopped (a journal that cannot be written) stays said on the summary page.
    connect(m_walk.get(), &CheckoutWalk::problem, this,
            [this](const QString &text) { summaryPage(this)->say(text); });
    if (resumed)
        m_walk->startResume(resumed->record);
    else
        m_walk->start();
    return true;
}

void CheckoutWizard::onStage(Stage stage) {
    // Follow the walk: leave each stage's page once the walk has gone past it.
    static const std::pair<Stage, int> pages[] = {{Stage::Connection, ConnectionPage},
                                                  {Stage::AsFound, AsFoundPage},
                                                  {Stage::Outputs, OutputsPage},
                                                  {Stage::Inputs, InputsPage},
                                                  {Stage::Counters, CountersPage}};
    for (const auto &[pageStage, id] : pages)
        if (currentId() == id && stage > pageStage)
            next();
}

void CheckoutWizard::onFinished(bool) {
    if (!m_cabinet && m_walk->wentBackToLine()) {
        // The journal is closed as aborted; the engineer picks the line's settings again.
        linePage(this)->say(
            QStringLiteral("通讯检查未通过，记录 %1 已关闭。请检查设置后重新开始。").arg(m_name));
        // The walk is still on its way out of this call: it goes, with its journal, at the next walk's end.
        m_endedSink = std::move(m_sink);
        m_endedJournal = std::move(m_journal);
        m_endedWalk = std::move(m_walk);
        restart();
        next();
        return;
    }
    while (currentId() != SummaryPage && currentId() >= ConnectionPage && currentId() != CabinetLinePage)
        next();
    if (walk()->wasCancelled())
        summaryPage(this)->say(
            QStringLiteral("调试已取消，改动已恢复。可按“生成记录”记为“已取消”，或关闭后下次继续。"));
    else if (m_cabinet)
        summaryPage(this)->say(
            QStringLiteral("站号 %1 调试完成。按“生成记录”后继续下一个模块。").arg(m_cabinet->station()));
    summaryPage(this)->walkEnded(*walk());
}

bool CheckoutWizard::writeRecord() {
    if (m_cabinet) {
        if (!walk() || !walk()->isFinished() || m_cabinet->isFinished())
            return false;
        const QString name = m_cabinet->moduleName();
        if (!m_cabinet->closeModule(summaryPage(this)->remark()))
            return false;
        summaryPage(this)->recordWritten();
        summaryPage(this)->say(
            QStringLiteral("记录已生成：%1.jsonl、%1.csv、%1.pdf（%2）").arg(name, recordFolder()));
        return true;
    }
    if (!m_walk || !m_walk->isFinished() || m_recordWritten)
        return m_recordWritten;
    QString error;
    if (!m_walk->closeRecord(summaryPage(this)->remark()))
        error = QStringLiteral("无法写入记录：%1").arg(m_journal->error());
    if (error.isEmpty() && writeRecordFiles(m_walk->record(), recordFolder(), m_name, error)) {
        m_recordWritten = true;
        summaryPage(this)->recordWritten();
        summaryPage(this)->say(
            QStringLiteral("记录已生成：%1.jsonl、%1.csv、%1.pdf（%2）").arg(m_name, recordFolder()));
        return true;
    }
    summaryPage(this)->say(error);
    return false;
}

void CheckoutWizard::confirm(const QString &text, const QString &yes, const QString &no,
                             std::function<void()> then) {
    auto *box = new QMessageBox(QMessageBox::Question, windowTitle(), text, QMessageBox::NoButton, this);
    box->setObjectName(QStringLiteral("confirm"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *yesButton = box->addButton(yes, QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(no, QMessageBox::RejectRole));
    connect(box, &QMessageBox::finished, this, [box, yesButton, then] {
        if (box->clickedButton() == yesButton)
            then();
    });
    box->open();
}

void CheckoutWizard::closeUnwritten() {
    if (walk() && walk()->isFinished() && !walk()->wasCancelled())
        walk()->closeRecord(QStringLiteral("未生成记录"));
}

void CheckoutWizard::accept() {
    if (!walk() || m_recordWritten)
        return QWizard::accept();
    confirm(QStringLiteral("尚未生成记录，仍要关闭？"), QStringLiteral("关闭"), QStringLiteral("返回"),
            [this] {
                closeUnwritten();
                QWizard::accept();
            });
}

void CheckoutWizard::reject() {
    if (walk() && !walk()->isFinished()) {
        // Nothing stops before the engineer says so; then what the walk changed goes back first.
        confirm(QStringLiteral("取消调试？已改动的输出和预置值将恢复。"), QStringLiteral("恢复并停止"),
                QStringLiteral("继续调试"), [this] {
                    if (walk() && !walk()->isFinished())
                        walk()->cancel();
                });
        return;
    }
    if (walk() && !m_recordWritten && !walk()->wasCancelled()) {
        confirm(QStringLiteral("尚未生成记录，仍要关闭？"), QStringLiteral("关闭"), QStringLiteral("返回"),
                [this] {
                    closeUnwritten();
                    QWizard::reject();
                });
        return;
    }
    QWizard::reject();
}

void CheckoutWizard::useCabinetList(const CabinetIoList &list) {
    m_cabinetHeader.list = list.modules;
    cabinetPage(this)->setList(list);
}

bool CheckoutWizard::beginCabinet(int port, int baudCode, int parityCode, QString &error) {
    if (m_cabinetJournal)
        return true;
    const CheckoutSetup chosen = setup();
    CabinetHeader &h = m_cabinetHeader;
    h.project = chosen.header.project;
    h.location = chosen.header.location;
    h.engineer = chosen.header.engineer;
    h.witness = chosen.header.witness;
    h.port = port;
    h.baudCode = baudCode;
    h.parityCode = parityCode;
    h.programVersion = QCoreApplication::applicationVersion();
    const QDateTime start = QDateTime::currentDateTime();
    h.start = CheckoutWalk::isoTime(start);
    const QDir folder(recordFolder());
    m_cabinetPath =
        folder.filePath(RecordNames::unusedBaseName(folder.path(), RecordNames::cabinetBaseName(start)) +
                        QStringLiteral(".jsonl"));
    auto sink = std::make_unique<FileJournalSink>();
    if (!sink->open(m_cabinetPath, error)) {
        error = QStringLiteral("无法创建机柜记录：%1").arg(error);
        return false;
    }
    auto journal = std::make_unique<CabinetJournalWriter>(*sink);
    if (!journal->writeCabinet(h)) {
        error = QStringLiteral("无法写入机柜记录：%1").arg(journal->error());
        return false;
    }
    m_cabinetSink = std::move(sink);
    m_cabinetJournal = std::move(journal);
    return true;
}

bool CheckoutWizard::goOnWithCabinet(const QString &path, QString &error) {
    if (m_cabinetJournal)
        return false;
    const CabinetContents contents = readCabinetJournal(path);
    if (contents.refused) {
        error = contents.reason;
        return false;
    }
    auto sink = std::make_unique<FileJournalSink>();
    if (!sink->open(path, error)) {
        error = QStringLiteral("无法打开机柜记录：%1").arg(error);
        return false;
    }
    m_cabinetHeader = contents.record.header;
    m_cabinetPath = path;
    m_cabinetSink = std::move(sink);
    m_cabinetJournal = std::make_unique<CabinetJournalWriter>(*m_cabinetSink);
    return true;
}

CabinetRecord CheckoutWizard::cabinetRecord() const {
    return m_cabinetPath.isEmpty() ? CabinetRecord{} : readCabinetJournal(m_cabinetPath).record;
}

QString CheckoutWizard::cabinetName() const {
    return QFileInfo(m_cabinetPath).completeBaseName();
}

bool CheckoutWizard::startCabinet(CabinetWalkSettings settings) {
    if (m_cabinet)
        return true;
    if (!m_cabinetJournal)
        return false;
    settings.folder = recordFolder();
    settings.journalPath = m_cabinetPath;
    settings.tuneWalk = tuneWalk;
    m_cabinet = std::make_unique<CabinetWalk>(
        *m_cabinetJournal, settings, [this](JournalWriter &journal, const WalkSettings &walkSettings) {
            return std::make_unique<CheckoutWalk>(*m_link, journal, walkSettings);
        });
    connect(m_cabinet.get(), &CabinetWalk::moduleStarted, this, &CheckoutWizard::onModuleStarted);
    connect(m_cabinet.get(), &CabinetWalk::moduleFinished, this,
            [this](int, bool completed) { onFinished(completed); });
    connect(m_cabinet.get(), &CabinetWalk::finished, this, &CheckoutWizard::onCabinetFinished);
    connect(m_cabinet.get(), &CabinetWalk::problem, this,
            [this](const QString &text) { summaryPage(this)->say(text); });
    m_cabinet->start();
    return true;
}

void CheckoutWizard::onModuleStarted() {
    CheckoutWalk *now = walk();
    connect(now, &CheckoutWalk::stageChanged, this, &CheckoutWizard::onStage);
    connect(now, &CheckoutWalk::problem, this, [this](const QString &text) { summaryPage(this)->say(text); });
    // The next module: round again to its connection check (the first is reached by leaving the page).
    if (currentId() >= ConnectionPage && currentId() != CabinetLinePage) {
        restart();
        next();
        next();
    }
}

void CheckoutWizard::onCabinetFinished() {
    QString error;
    const QString remark = summaryPage(this)->remark();
    if (m_cabinet->closeCabinet(remark, error)) {
        m_recordWritten = true;
        summaryPage(this)->say(QStringLiteral("机柜记录已生成：%1.jsonl、%1.csv、%1.pdf（%2）")
                                   .arg(cabinetName(), recordFolder()));
    } else {
        summaryPage(this)->say(error);
    }
    while (currentId() != SummaryPage && currentId() >= ConnectionPage && currentId() != CabinetLinePage)
        next();
}
