#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>

// A second program holding a device the way serial programs do: flock(1) takes the device's lock and keeps
// it while its child waits on its input. The child does not inherit the lock (-o), so killing flock releases
// it, and the child ends when its input closes. The constructor returns once the lock is held. The holder
// waits for the lock rather than giving up: the probe below holds it for a moment, and may do so just as the
// holder starts.
class LockHolder {
public:
    explicit LockHolder(const QString &device) {
        m_process.start(QStringLiteral("flock"), {QStringLiteral("-o"), device, QStringLiteral("cat")});
        m_process.waitForStarted();
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() &&
               QProcess::execute(QStringLiteral("flock"),
                                 {QStringLiteral("--nonblock"), device, QStringLiteral("true")}) == 0) {
        }
    }
    ~LockHolder() {
        m_process.closeWriteChannel();
        m_process.kill();
        m_process.waitForFinished();
    }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
};
