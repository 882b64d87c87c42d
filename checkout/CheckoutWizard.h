#pragma once

#include "CabinetWalk.h"
#include "CheckoutWalk.h"
#include "ExchangeLink.h"
#include "Journal.h"
#include "Modbus485.h"
#include "RecordsFolder.h"

#include <QWizard>

#include <functional>
#include <memory>

// What the header and connection pages hand the wizard when the walk starts.
struct CheckoutSetup {
    RecordHeader header; // the people, the module and the line; the I/O list's points once read
    QString ioListPath;
    QString folder;
    QSet<QString> doNotSwitch;
};

// The guided checkout's window: the record's header, the line's settings, one page per stage of the walk
// (the connection check, as found, outputs, inputs, counters), and the summary that writes the record. The
// walk starts when the settings page is left; from there the wizard does not go back. "取消", Esc and closing
// the window put back what the walk changed before the window goes. With a cabinet's I/O list (one with a
// station column) the connection page is the cabinet's, and the stage pages and the summary go round once
// for each module walked, until the cabinet's record is written.
class CheckoutWizard : public QWizard {
    Q_OBJECT

public:
    enum PageId {
        HeaderPage,
        LinePage,
        ConnectionPage,
        AsFoundPage,
        OutputsPage,
        InputsPage,
        CountersPage,
        SummaryPage,
        CabinetLinePage
    };

    // Every exchange goes through a link thread of the wizard's own, so the window never waits on the line.
    explicit CheckoutWizard(Modbus485 &library, QWidget *parent = nullptr);
    explicit CheckoutWizard(std::unique_ptr<ExchangeLink> link, QWidget *parent = nullptr);
    ~CheckoutWizard() override;

    // The walk once it has started (a cabinet's: the module's now); null before.
    CheckoutWalk *walk() const;
    QString recordFolder() const;
    QString recordName() const { return m_name; }

    void reject() override;
    void accept() override;

    // Adjusts the walk's settings before it starts (shorter waits for a test).
    std::function<void(WalkSettings &)> tuneWalk;

    // Starts the walk with the header and line settings on the pages; false with a message when the records
    // folder cannot be written.
    bool startWalk();
    // Writes the journal's closing line, then the CSV and the PDF; the page says where, or why not.
    bool writeRecord();
    // Looks in the records folder for a journal that ends with test values in the module (the program was
    // killed) and offers to put them back; putBackLeftChanged() does it, waiveLeftChanged() leaves them and
    // journals that. A new walk waits until one of them is done.
    void findLeftChanged();
    void putBackLeftChanged();
    void waiveLeftChanged();
    // A killed walk's test values are still to be put back or waived, or are being put back.
    bool leftChangedPending() const;
    bool putBackRunning() const { return m_putBack && !m_putBack->isFinished(); }

    // The cabinet: the list the header page read (empty for one module's), its journal begun when the line
    // is first surveyed, and its walk once the connection page is left.
    void useCabinetList(const CabinetIoList &list);
    bool beginCabinet(int port, int baudCode, int parityCode, QString &error);
    // Takes up an unfinished cabinet journal instead: appended to, its header kept.
    bool goOnWithCabinet(const QString &path, QString &error);
    CabinetJournalWriter *cabinetJournal() const { return m_cabinetJournal.get(); }
    const CabinetHeader &cabinetHeader() const { return m_cabinetHeader; }
    CabinetRecord cabinetRecord() const;
    bool startCabinet(CabinetWalkSettings settings);
    CabinetWalk *cabinetWalk() const { return m_cabinet.get(); }
    QString cabinetName() const;

private:
    void onModuleStarted();
    void onCabinetFinished();
    // What the pages hold now.
    CheckoutSetup setup() const;
    void onStage(Stage stage);
    void onFinished(bool completed);
    // Asks `text` with [yes] [no] beside the window, and runs `then` on yes.
    void confirm(const QString &text, const QString &yes, const QString &no, std::function<void()> then);
    // Closing before the record is written: a walk gone through is closed as such; a cancelled one stays
    // open to be gone on with.
    void closeUnwritten();

    // First, so that it goes last: the walks and the scan let go of it before it stops.
    std::unique_ptr<ExchangeLink> m_link;
    std::unique_ptr<FileJournalSink> m_endedSink; // a walk ended by "返回连接"
    std::unique_ptr<JournalWriter> m_endedJournal;
    std::unique_ptr<CheckoutWalk> m_endedWalk;
    std::unique_ptr<FileJournalSink> m_sink;
    std::unique_ptr<JournalWriter> m_journal;
    std::unique_ptr<CheckoutWalk> m_walk;
    RecordHeader m_header;
    QString m_name;
    bool m_recordWritten = false;
    RecordsFolder m_folder;
    std::unique_ptr<FileJournalSink> m_putBackSink;
    std::unique_ptr<JournalWriter> m_putBackJournal;
    std::unique_ptr<CheckoutWalk> m_putBack;
    CabinetHeader m_cabinetHeader;
    QString m_cabinetPath;
    std::unique_ptr<FileJournalSink> m_cabinetSink;
    std::unique_ptr<CabinetJournalWriter> m_cabinetJournal;
    std::unique_ptr<CabinetWalk> m_cabinet;
};
