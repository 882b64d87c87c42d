#pragma once

#include "CheckedArray.h"
#include "ControlArray.h"
#include "ExchangeLink.h"
#include "Modbus485.h"
#include "PanelVar.h"
#include "PollRhythm.h"

#include <QElapsedTimer>
#include <QRgb>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace Ui {
class ssqx;
}

// The main window: the stored layout ssqx.ui, its control arrays, and the handlers of the connection,
// the two polls and the operator's commands (one source file per feature).
class ssqx : public QWidget {
    Q_OBJECT

public:
    // Creates the controls as the layout holds them, wires the handlers and runs Form_Load. Every exchange is
    // made inline on the window's thread, each handler answering before it returns.
    explicit ssqx(Modbus485 &link, QWidget *parent = nullptr);
    // The same window on a link of its own choosing, which the window owns: on a ThreadedLink the window
    // never waits on the line.
    explicit ssqx(std::unique_ptr<ExchangeLink> link, QWidget *parent = nullptr);
    ~ssqx() override;

    // Connection and port lifecycle.
    void Form_Load();
    void Command9_Click();
    void Command10_Click();
    void Command1_Click();
    void Form_Unload(int16_t &Cancel);
    void Form_KeyDown(int KeyCode, int Shift);

    // I/O poll.
    void Timer1_Timer();
    void D_Byte(uint8_t b);

    // Counter poll.
    void Timer2_Timer();

    // Output control.
    void Command2_Click(int16_t index);
    void Command3_Click(int16_t index);

    // Counter control.
    void D_3R_Click(int16_t index);
    void Command5_Click(int16_t index);

    // Module parity setting.
    void Command4_Click();

    // Ends the process; replaced in tests so that "退出" can be observed without ending the test run.
    void setProcessEnd(std::function<void()> end) { m_endProcess = std::move(end); }

    // Each poll's period over its last ten rounds, in seconds; none before two rounds.
    std::optional<double> ioPollPeriod() const { return m_ioRhythm.periodSeconds(); }
    std::optional<double> counterPollPeriod() const { return m_counterRhythm.periodSeconds(); }

    // Shared values; PanelVar names the elements in use.
    CheckedArray<0, 500> PanelVars;
    int32_t WriteStatus = 0;
    int16_t KeepOpen = 0; // 16-bit Boolean: 0 False, -1 True

    // Receiving areas and results of the polls.
    CheckedArray<0, 100> InputWords;
    CheckedArray<0, 100> CoilWords;
    int32_t LinkStatus = 0;
    std::array<uint8_t, 8> BitFlags{};
    CheckedArray<0, 500> FreqRegs;
    CheckedArray<0, 500> CounterRegs;

    // Control arrays, addressed as the window description does: D_3R(3), Frame1(33).
    ControlArray<QGroupBox> Frame1, Frame2, Frame4, Frame5;
    ControlArray<QLabel> Label1, Label2, Label4;
    ControlArray<QLabel> B_2R, B_1RW, D_3R, D_4R, D_4WRW;
    ControlArray<QLineEdit> D_3RW;
    ControlArray<QPushButton> Command2, Command3, Command5;
    ControlArray<QRadioButton> Option1, Option2;

    // Single controls.
    QGroupBox *Frame3 = nullptr;
    QGroupBox *Frame6 = nullptr;
    QLabel *Label5 = nullptr;
    QComboBox *Combo1 = nullptr;
    QComboBox *Combo2 = nullptr;
    QComboBox *Combo6 = nullptr;
    QComboBox *Combo7 = nullptr;
    QComboBox *Combo8 = nullptr;
    QComboBox *Combo12 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command10 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Connects every control and timer to its handler; the one place where wiring happens.
    void connectHandlers();
    // Sets what the stored layout cannot hold (half-point fonts, icon, fixed size, centring).
    void applyLayoutDetails();
    // Puts the fifteen input and output lamps back to their design-time look.
    void blankLamps();
    // Paints one lamp group from a received bit-block word; a word outside 0-255 is a failed read.
    void showBits(ControlArray<QLabel> &lamps, int firstLamp, int count, int32_t word, const QString &prefix,
                  int firstNumber, QRgb closedColour, QRgb openColour);
    // Restores a value label after its editor's command, and hides the shared clear-mode selectors.
    void closeEditor(int16_t index);
    // Writes one holding register of the module into WriteStatus, once more if the library answers -8888.
    void writeRegisterWithRetry(int32_t reg, int32_t value);
    // Asks for an operator's unit on the port PanelVars holds now; `done` runs when it is back.
    void askOperator(ExchangeLink::Unit unit, ExchangeLink::Done done = {});

    // The I/O poll's unit comes back as one IoReads, applied in one go.
    struct IoReads;
    void showIoReads(const IoReads &reads);
    // The counter poll's three units, each asked by the continuation of the one before.
    using BlockRead = int32_t (Modbus485::*)(int32_t, int32_t, int32_t, Modbus485::RegisterBlock);
    void askRegisterBlock(BlockRead read, int32_t start, CheckedArray<0, 500> &regs,
                          std::function<void()> show);
    void askFrequencyBlock();
    void askCounterBlock();
    void askClearModeAndParity();
    // The counter poll's yield between two units: inline, the window handles pending events here; false
    // when "退出" was pressed meanwhile.
    bool yieldBetweenUnits();

    // Tooltips on the port, the link status and the polled frames (ssqx_tooltips.cpp).
    void installToolTips();
    // The tooltip of a control, made now; empty when the library has nothing to say, none for a control
    // without a tooltip. On a threaded link `refresh` also asks for a new copy of the port's info.
    std::optional<QString> toolTipText(QObject *watched, bool refresh = true);
    QString portInfoText(int32_t port);
    QString portCountersText(int32_t port);
    QString lastReadText(int32_t function, int32_t start);

    std::unique_ptr<ExchangeLink> m_link;
    std::unique_ptr<Ui::ssqx> m_ui;
    std::function<void()> m_endProcess;
    // Set while the I/O poll's unit is out: a tick meanwhile writes only the date and time. "关闭" drops the
    // unit if it has not started and makes one on the line change nothing (a new generation).
    bool m_ioPollOut = false;
    ExchangeLink::AskId m_ioPollAsk = 0;
    unsigned m_ioPollGeneration = 0;
    // Set while a counter-poll round runs, so a further tick arriving meanwhile is skipped.
    bool m_counterPollRunning = false;
    // Set by "退出": whatever was suspended in a yield makes no further call.
    bool m_processEnding = false;
    QElapsedTimer m_clock;
    PollRhythm m_ioRhythm;
    PollRhythm m_counterRhythm;
};
