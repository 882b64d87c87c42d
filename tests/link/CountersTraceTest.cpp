#include "Crc16.h"
#include "LinkTestSupport.h"
#include "LinkWords.h"
#include "SimFaults.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// What MODBUS485 counts and traces of each exchange: each fault of the module with its own counter and words,
// counts from zero at each open, and a trace that never costs an exchange.
namespace {
QStringList lines(const QString &path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The frame that reads holding registers 1-8 of station 1, as it must be on the line.
QString registersRequest() {
    const uint8_t frame[] = {1, 3, 0, 0, 0, 8};
    const uint16_t crc = modbus485::crc16(frame, sizeof frame);
    QString hex;
    for (int byte : {1, 3, 0, 0, 0, 8, crc & 0xFF, crc >> 8})
        hex += QString::asprintf(" %02X", byte);
    return "request" + hex;
}

class CountersAndTrace : public SimLinkTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_savedTrace = qgetenv("MODBUS485_TRACE");
    }
    void TearDown() override {
        m_savedTrace.isNull() ? qunsetenv("MODBUS485_TRACE") : qputenv("MODBUS485_TRACE", m_savedTrace);
        SimLinkTest::TearDown();
    }
    QTemporaryDir m_dir;
    QByteArray m_savedTrace;
};
} // namespace

TEST_F(CountersAndTrace, EachFaultHasItsCounterAndItsWords) {
    startSim({"-c", "register 1 101"});
    const QRegularExpression shape("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} port 1 " +
                                   QRegularExpression::escape(sim().devicePath()) +
                                   " station 1 \\|.* \\| \\d+\\.\\d\\d ms$");
    std::vector<SimFault> cases(std::begin(SimFaults), std::end(SimFaults));
    cases.insert(cases.end(), std::begin(SimLineBehaviours), std::end(SimLineBehaviours));
    int n = 0;
    for (const SimFault &c : cases) {
        SCOPED_TRACE(c.command);
        const QString trace = m_dir.filePath(QString("trace%1.log").arg(n++));
        qputenv("MODBUS485_TRACE", trace.toLocal8Bit());
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
        EXPECT_EQ(counters(), std::vector<int32_t>(MODBUS485_COUNTERS, 0)); // whatever the last case counted
        sim().command(c.command);
        int32_t block[8];
        EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, block) == F, c.outcome != MODBUS485_OUTCOME_GOOD);
        int32_t last[MODBUS485_LASTREAD_VALUES];
        ASSERT_EQ(GetPort_LastRead(Port, Station, 3, 1, last, MODBUS485_LASTREAD_VALUES),
                  MODBUS485_LASTREAD_VALUES);
        EXPECT_EQ(last[MODBUS485_LASTREAD_OUTCOME], c.outcome);
        EXPECT_EQ(last[MODBUS485_LASTREAD_EXCEPTION], c.exception);
        QElapsedTimer clock;
        clock.start();
        while (Get_4X_UnD8(Port, Station, 1, block) != 101 && clock.elapsed() < 30000)
            QThread::msleep(20);
        const std::vector<int32_t> counted = counters();
        if (c.exactlyOnce) {
            EXPECT_EQ(counted[c.counter], 1);
        } else {
            EXPECT_GE(counted[c.counter], 1);
        }
        if (c.exception) {
            EXPECT_EQ(counted[MODBUS485_COUNTER_EXCEPTIONS], 1);
        }
        EXPECT_EQ(counted[MODBUS485_COUNTER_GOOD], c.outcome == MODBUS485_OUTCOME_GOOD ? 2 : 1);
        int ended = 0; // every request sent, under exactly one outcome
        for (int counter : {1, 2, 3, 4, 5, 23, 24, 25, 26})
            ended += counted[counter];
        EXPECT_EQ(ended, counted[MODBUS485_COUNTER_REQUESTS]);
        const QStringList traced = lines(trace);
        EXPECT_EQ(traced.size(), counted[MODBUS485_COUNTER_REQUESTS]);
        EXPECT_TRUE(traced.join('\n').contains(c.words)) << traced.join('\n').toStdString();
        // The trace says the last read's outcome in the words table's words.
        EXPECT_TRUE(traced.join('\n').contains(QString(" | ") + LinkWords::outcome(c.outcome)->trace));
        for (const QString &line : traced) {
            EXPECT_TRUE(shape.match(line).hasMatch()) << line.toStdString();
            EXPECT_TRUE(line.contains(" | " + registersRequest() + " | ")) << line.toStdString();
        }
        EXPECT_TRUE(traced.last().endsWith(" | good | " + traced.last().section(" | ", -1)));
        sim().command("normal");
        sim().command("echo off");
        sim().takeLog();
    }
}

TEST_F(CountersAndTrace, EachTraceTargetKeepsItsLinesAndNeverHoldsAnExchange) {
    const QString fifo = m_dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // A reader that never reads, on a pipe of one page: the trace fills it at once.
    const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ::fcntl(reader, F_SETPIPE_SZ, 4096);
    const QString leftPipe = m_dir.filePath("left");
    ASSERT_EQ(::mkfifo(leftPipe.toLocal8Bit().constData(), 0600), 0);
    int leftReader = -1;
    // The test's own descriptor 2: as it is, a file opened as "2>FILE" opens it, a socket whose reader has
    // stopped, a terminal stopped with Ctrl-S.
    enum To { Same, File, Socket, Terminal };
    // In the trace's file before the open: nothing, a line a few trace lines short of the limit, and that
    // with a folder in FILE.1's place until halfway through the reads.
    enum Before { Nothing, NearLimit, NearLimitAsideFolder };
    constexpr int64_t Limit = 10 * 1024 * 1024;
    constexpr int Move = MODBUS485_TRACE_STOPPED_MOVE, Write = MODBUS485_TRACE_STOPPED_WRITE,
                  Open = MODBUS485_TRACE_STOPPED_OPEN;
    const struct {
        const char *name;
        QString variable; // "" for none; a relative name is in the case's own folder
        To to;
        Before before;
        bool drops;
        int stopped;      // counter 27
        int lines;        // trace lines in the trace's file and FILE.1 together, -1 unchecked
        QStringList left; // in the case's folder afterwards
    } cases[] = {
        {"no variable", "", Same, Nothing, false, 0, -1, {}},
        {"a file", "trace.log", Same, Nothing, false, 0, 60, {"trace.log"}},
        {"a file at its limit", "trace.log", Same, NearLimit, false, 0, 60, {"trace.log", "trace.log.1"}},
        {"a file whose move fails", "trace.log", Same, NearLimitAsideFolder, false, Move, -1, {"trace.log"}},
        {"a directory", ".", Same, Nothing, false, Open, -1, {}},
        {"a missing folder", "none/trace.log", Same, Nothing, false, Open, -1, {}},
        {"a full disk", "/dev/full", Same, Nothing, false, Write, -1, {}},
        {"a full pipe", fifo, Same, Nothing, true, 0, -1, {}},
        {"a pipe whose reader has gone", leftPipe, Same, Nothing, false, Write, -1, {}},
        {"2>FILE, with the program's own messages", "-", File, NearLimit, false, 0, 60, {}},
        {"2> a socket whose reader has stopped", "-", Socket, Nothing, true, 0, -1, {}},
        {"2> a terminal stopped", "-", Terminal, Nothing, true, 0, -1, {}},
    };
    startSim({"-c", "register 1 101"});
    const QString startFolder = QDir::currentPath();
    const QString stderrFile = m_dir.filePath("stderr.log");
    const int savedStderr = ::dup(2);
    const int stderrFlags = ::fcntl(2, F_GETFL);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        QDir::setCurrent(folder.path());
        const QString variable =
            c.variable.size() < 2 ? c.variable : QDir(folder.path()).filePath(c.variable);
        variable.isEmpty() ? qunsetenv("MODBUS485_TRACE")
                           : qputenv("MODBUS485_TRACE", variable.toLocal8Bit());
        int given = -1, far = -1; // descriptor 2 for the case, and the other end of a socket or terminal
        if (c.to == File)
            given = ::open(stderrFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (int pair[2]; c.to == Socket && ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0)
            for (given = pair[0], far = pair[1]; ::send(given, "stalled\n", 8, MSG_DONTWAIT) > 0;) {
            }
        if (c.to == Terminal && ::openpty(&far, &given, nullptr, nullptr, nullptr) == 0)
            ::tcflow(given, TCOOFF);
        if (given >= 0)
            ::dup2(given, 2), ::close(given);
        const QString file = c.to == File ? stderrFile : variable;
        if (c.before != Nothing) {
            const std::string line = std::string(Limit - 1001, 'x') + '\n';
            const int fd =
                c.to == File ? ::dup(2) : ::open(file.toLocal8Bit().constData(), O_WRONLY | O_CREAT, 0644);
            ::write(fd, line.data(), line.size()), ::close(fd);
        }
        if (c.before == NearLimitAsideFolder)
            QDir().mkpath(file + ".1/kept");
        if (c.variable == leftPipe)
            leftReader = ::open(leftPipe.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
        if (c.variable == leftPipe)
            ::close(leftReader); // the next trace line meets a pipe without a reader
        int good = 0;
        for (int i = 0; i < 60; ++i) {
            good += Get_4X_UnD1(Port, Station, 1) == 101;
            if (c.to == File)
                std::fprintf(stderr, "the program's own message %d\n", i);
            if (c.before == NearLimitAsideFolder && i == 30)
                QDir(file + ".1").removeRecursively(); // a move tried again would now succeed
        }
        const std::vector<int32_t> counted = counters();
        ::dup2(savedStderr, 2);
        ::close(far);
        EXPECT_EQ(good, 60);
        EXPECT_EQ(::fcntl(2, F_GETFL), stderrFlags);
        EXPECT_EQ(counted[MODBUS485_COUNTER_GOOD], 60);
        EXPECT_EQ(counted[MODBUS485_COUNTER_TRACE_DROPPED] > 0, c.drops);
        EXPECT_EQ(counted[MODBUS485_COUNTER_TRACE_STOPPED], c.stopped);
        EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), c.left);
        // Nothing written before is lost, the program's own messages are all there, a file of our own stays
        // within its limit.
        const QStringList kept = lines(file) + lines(file + ".1");
        EXPECT_EQ(kept.filter(" | request ").size(),
                  c.lines < 0 ? kept.filter(" | request ").size() : c.lines);
        EXPECT_EQ(kept.filter(QRegularExpression("^x+$")).size(), c.before != Nothing ? 1 : 0);
        EXPECT_EQ(kept.filter("own message").size(), c.to == File ? 60 : 0);
        for (const QString &name : c.left)
            EXPECT_LE(QFileInfo(name).size(), Limit);
        QDir::setCurrent(startFolder);
    }
    ::close(reader);
    ::close(savedStderr);
}

TEST_F(CountersAndTrace, APortsOwnTraceTakesItsExchangesFromTheNextOn) {
    const QString environment = m_dir.filePath("environment.log"), first = m_dir.filePath("跟踪 一.log"),
                  second = m_dir.filePath("second.log");
    qputenv("MODBUS485_TRACE", environment.toLocal8Bit());
    startSim({"-c", "register 1 101"});
    // After each call, one read: the trace lines in MODBUS485_TRACE's file and in the port's two own files.
    const struct {
        int32_t port;
        QString path;
        int32_t result;
        int inEnvironment, inFirst, inSecond;
    } steps[] = {
        {Port, first, 0, 0, 1, 0},
        {Port, second, 0, 0, 1, 1},
        {Port, "", 0, 1, 1, 1},
        {0, first, 1, 2, 1, 1},
        {2, first, 1, 3, 1, 1}, // not open
        {Port, m_dir.filePath("none/trace.log"), 1, 4, 1, 1},
        {Port, second, 0, 4, 1, 2},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.path.toStdString() + " on port " + std::to_string(step.port));
        EXPECT_EQ(SetPort_Trace(step.port, step.path.toUtf8().constData()), step.result);
        EXPECT_EQ(Get_4X_UnD1(Port, Station, 1), 101);
        EXPECT_EQ(lines(environment).size(), step.inEnvironment);
        EXPECT_EQ(lines(first).size(), step.inFirst);
        EXPECT_EQ(lines(second).size(), step.inSecond);
    }
    // An open starts the port again without a trace of its own.
    ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
    EXPECT_EQ(Get_4X_UnD1(Port, Station, 1), 101);
    EXPECT_EQ(lines(environment).size(), 5);
    EXPECT_EQ(lines(second).size(), 2);
}

// Each baud and parity code's words as the wizard, the record, the panel and qm4107-ports show them, and the
// parity's name on the command line; a code that is none of them shows as its number.
TEST(LinkWords, EachLineSettingCodeHasItsWords) {
    struct Row {
        int32_t code;
        const char *baud, *parity, *option;
    };
    for (const Row &row :
         {Row{-1, "-1", "-1", ""}, Row{0, "4800", "无校验", "none"}, Row{1, "9600", "奇校验", "odd"},
          Row{2, "19200", "偶校验", "even"}, Row{3, "3", "3", ""}}) {
        EXPECT_EQ(LinkWords::baudText(row.code).toStdString(), row.baud);
        EXPECT_EQ(LinkWords::parityText(row.code).toStdString(), row.parity);
        EXPECT_EQ(LinkWords::parityOption(row.code).toStdString(), row.option);
    }
}
