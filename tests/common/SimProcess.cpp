#include "SimProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

SimProcess::SimProcess(const QStringList &args) {
    const QString program =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qm4107-sim"));
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, args);
    if (!m_process.waitForStarted(5000)) {
        qWarning("SimProcess: cannot start %s", qPrintable(program));
        return;
    }
    const QDeadlineTimer deadline(5000);
    while (m_devicePath.isEmpty() && !deadline.hasExpired()) {
        if (!waitForOutput(static_cast<int>(deadline.remainingTime())))
            break;
    }
    if (m_devicePath.isEmpty())
        qWarning("SimProcess: %s printed no device path", qPrintable(program));
}

SimProcess::~SimProcess() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // lets it remove its --link symlink
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QString SimProcess::devicePath() const {
    return m_devicePath;
}

bool SimProcess::isRunning() const {
    return m_process.state() == QProcess::Running;
}

qint64 SimProcess::processId() const {
    return m_process.processId();
}

void SimProcess::command(const QString &line) {
    m_process.write(line.toUtf8() + '\n');
    // On its way into the pipe before the caller's next request goes out on the line.
    m_process.waitForBytesWritten(30000);
}

QStringList SimProcess::takeLog() {
    readLines();
    QStringList lines;
    lines.swap(m_log);
    m_waitCursor = 0;
    return lines;
}

QStringList SimProcess::takeSettledLog() {
    state();
    return takeLog();
}

bool SimProcess::waitForLog(const QString &contains, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    readLines();
    for (;;) {
        for (; m_waitCursor < m_log.size(); ++m_waitCursor) {
            if (m_log[m_waitCursor].contains(contains)) {
                ++m_waitCursor;
                return true;
            }
        }
        if (deadline.hasExpired() || !waitForOutput(static_cast<int>(deadline.remainingTime())))
            return false;
    }
}

QString SimProcess::state() {
    readLines();
    m_stateLines.clear();
    command(QStringLiteral("state"));
    const QDeadlineTimer deadline(30000);
    while (m_stateLines.isEmpty() && !deadline.hasExpired())
        if (!waitForOutput(static_cast<int>(deadline.remainingTime())))
            break;
    return m_stateLines.isEmpty() ? QString() : m_stateLines.takeFirst();
}

QString SimProcess::stateValue(const QString &key) {
    const QString prefix = key + QLatin1Char('=');
    for (const QString &field : state().split(QLatin1Char(' ')))
        if (field.startsWith(prefix))
            return field.mid(prefix.size());
    return {};
}

bool SimProcess::waitForOutput(int timeoutMs) {
    const int before = m_log.size() + m_stateLines.size() + (m_devicePath.isEmpty() ? 0 : 1);
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    do {
        if (m_process.state() != QProcess::Running && m_process.bytesAvailable() == 0)
            return false;
        m_process.waitForReadyRead(qBound(1, static_cast<int>(deadline.remainingTime()), 50));
        readLines();
        if (m_log.size() + m_stateLines.size() + (m_devicePath.isEmpty() ? 0 : 1) != before)
            return true;
    } while (!deadline.hasExpired());
    return false;
}

void SimProcess::readLines() {
    // Takes in whatever the pipe holds now, with or without a running event loop.
    while (m_process.state() == QProcess::Running && m_process.waitForReadyRead(0)) {
    }
    m_partial += QString::fromUtf8(m_process.readAllStandardOutput());
    qsizetype end;
    while ((end = m_partial.indexOf(QLatin1Char('\n'))) >= 0) {
        const QString line = m_partial.left(end);
        m_partial.remove(0, end + 1);
        if (m_devicePath.isEmpty())
            m_devicePath = line;
        else if (line.startsWith(QLatin1String("state ")))
            m_stateLines.append(line);
        else
            m_log.append(line);
    }
}
