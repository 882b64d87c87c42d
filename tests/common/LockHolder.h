#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>

// A second program holding a device the way serial programs do: flock(1) takes the device's lock and keeps
// it while its child sleeps. The constructor returns once the lock is held. The holder waits for the lock
// rather than giving up: the probe below holds it for a moment, and may do so just as the holder starts.
class LockHolder {
public:
    explicit LockHolder(const QString &device) {
        m_process.start(QStringLiteral("flock"), {device, QStringLiteral("sleep"), QStringLiteral("600")});
        m_process.waitForStarted();
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() &&
               QProcess::execute(QStringLiteral("flock"),
                                 {QStringLiteral("--nonblock"), device, QStringLiteral("true")}) == 0) {
        }
    }
    ~LockHolder() {
        m_process.kill();
        m_process.waitForFinished();
    }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
};
