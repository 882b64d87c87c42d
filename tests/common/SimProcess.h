#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A running qm4107-sim for a test: started from the test program's own folder (the build's bin) with the
// given arguments; the constructor waits for its first output line, the device path. The destructor stops it,
// which also removes its pseudo-terminal and any --link symlink.
//
// Each output line after the first is one request the simulator served, e.g. "read-coils 1 16",
// "write-coil 3 1", "write-register 256 1", "read-inputs 1 16 silent" (syntax: qm4107-sim --help).
class SimProcess {
public:
    explicit SimProcess(const QStringList &args = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The device to open, e.g. /dev/pts/7; empty when the simulator did not start.
    QString devicePath() const;
    // Writes one command line to the simulator's standard input ("input 3 1", "silent", "normal", ...).
    // A command written before a request is in effect for that request.
    void command(const QString &line);
    // Request log lines served since the last take.
    QStringList takeLog();
    // The same, once every line the simulator has written so far is in: its answer to "state" comes after
    // them. For a test that asserts that nothing more went out.
    QStringList takeSettledLog();
    // True once a log line containing `contains` has arrived; each line satisfies one wait, so two waits for
    // "write-coil 3 1" need two such requests. Lines stay in the log for takeLog.
    bool waitForLog(const QString &contains, int timeoutMs);
    // The simulator's state line, "state coils=... inputs=... input-registers=... holding-registers=...
    // parity=... pulses=... fault=..."; empty if it does not answer.
    QString state();
    // One value of the state line, e.g. stateValue("holding-registers") gives "0,0,0,0,0,0,0,0,0".
    QString stateValue(const QString &key);
    // True while the simulator process runs.
    bool isRunning() const;
    qint64 processId() const;

private:
    void readLines();
    bool waitForOutput(int timeoutMs);

    QProcess m_process;
    QString m_devicePath;
    QString m_partial;
    QStringList m_log;        // lines not yet taken
    int m_waitCursor = 0;     // first line of m_log not yet matched by waitForLog
    QStringList m_stateLines; // answers to "state"
};
