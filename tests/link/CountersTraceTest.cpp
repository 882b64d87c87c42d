#include "Crc16.h"
#include "LinkTestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// What MODBUS485 counts and traces of each exchange: each fault of the module with its own counter and words,
// counts from zero at each open, and a trace that never costs an exchange.
namespace {
constexpr int32_t F = MODBUS485_FAILED;

std::vector<int32_t> counters() {
    std::vector<int32_t> values(MODBUS485_COUNTERS, -1);
    EXPECT_EQ(GetPort_Counters(1, values.data(), MODBUS485_COUNTERS), MODBUS485_COUNTERS);
    return values;
}

QStringList lines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
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
    struct Case {
        const char *command;
        int counter;
        bool exactlyOnce; // a late answer may be cleared, a slow one met by the next reads, in pieces
        int32_t outcome;  // of the failed read, as GetPort_LastRead gives it
        int32_t exception;
        const char *words; // in the trace
    } cases[] = {
        {"silent 1", MODBUS485_COUNTER_NO_ANSWER, true, MODBUS485_OUTCOME_NO_ANSWER, 0, " | no answer | "},
        {"corrupt-crc 1", MODBUS485_COUNTER_GARBLED, true, MODBUS485_OUTCOME_GARBLED, 0, " | garbled | "},
        {"wrong-station 1", MODBUS485_COUNTER_WRONG_STATION, true, MODBUS485_OUTCOME_WRONG_STATION, 0,
         " | wrong station | "},
        {"exception 2 1", MODBUS485_COUNTER_EXCEPTION_CODE(2), true, MODBUS485_OUTCOME_EXCEPTION, 2,
         " | exception 2 | "},
        {"garbage 1", MODBUS485_COUNTER_GARBLED, true, MODBUS485_OUTCOME_GARBLED, 0, " | garbled | "},
        {"slow 15 1", MODBUS485_COUNTER_GARBLED, false, MODBUS485_OUTCOME_GARBLED, 0, " | garbled | "},
        // Its answer, found waiting at the next read, teaches: that read may take up to the longest
        // allowance.
        {"late 300 1", MODBUS485_COUNTER_STRAY, false, MODBUS485_OUTCOME_NO_ANSWER, 0,
         " | allowance 1000 ms"},
    };
    startSim({"-c", "register 1 101"});
    const QRegularExpression shape("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} port 1 " +
                                   QRegularExpression::escape(sim().devicePath()) +
                                   " station 1 \\|.* \\| \\d+\\.\\d\\d ms$");
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        const QString trace = m_dir.filePath(QString("trace%1.log").arg(n++));
        qputenv("MODBUS485_TRACE", trace.toLocal8Bit());
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
        EXPECT_EQ(counters(), std::vector<int32_t>(MODBUS485_COUNTERS, 0)); // whatever the last case counted
        sim().command(c.command);
        int32_t block[8];
        EXPECT_EQ(Get_4X_UnD8(Port, Station, 1, block), F);
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
        EXPECT_EQ(counted[MODBUS485_COUNTER_GOOD], 1);
        const QStringList traced = lines(trace);
        EXPECT_EQ(traced.size(), counted[MODBUS485_COUNTER_REQUESTS]);
        EXPECT_TRUE(traced.join('\n').contains(c.words)) << traced.join('\n').toStdString();
        for (const QString &line : traced) {
            EXPECT_TRUE(shape.match(line).hasMatch()) << line.toStdString();
            EXPECT_TRUE(line.contains(" | " + registersRequest() + " | ")) << line.toStdString();
        }
        EXPECT_TRUE(traced.last().endsWith(" | good | " + traced.last().section(" | ", -1)));
        sim().takeLog();
    }
}

TEST_F(CountersAndTrace, TraceThatCannotBeWrittenCostsNothing) {
    const QString fifo = m_dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // A reader that never reads, on a pipe of one page: the trace fills it at once.
    const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ::fcntl(reader, F_SETPIPE_SZ, 4096);
    const QString leftPipe = m_dir.filePath("left");
    ASSERT_EQ(::mkfifo(leftPipe.toLocal8Bit().constData(), 0600), 0);
    int leftReader = -1;
    const struct {
        const char *name;
        QString variable; // "" for none
        int lines;        // in `variable` when it is a file, -1 for none
        bool drops;
    } cases[] = {
        {"no variable", "", -1, false},
        {"a file", m_dir.filePath("trace.log"), 60, false},
        {"a directory", m_dir.path(), -1, false},
        {"a missing folder", m_dir.filePath("none/trace.log"), -1, false},
        {"a full disk", "/dev/full", -1, false},
        {"a full pipe", fifo, -1, true},
        {"a pipe whose reader has gone", leftPipe, -1, false},
    };
    startSim({"-c", "register 1 101"});
    const QString startFolder = QDir::currentPath();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.variable.isEmpty() ? qunsetenv("MODBUS485_TRACE")
                             : qputenv("MODBUS485_TRACE", c.variable.toLocal8Bit());
        QDir::setCurrent(m_dir.path());
        const QStringList before =
            QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        if (c.variable == leftPipe)
            leftReader = ::open(leftPipe.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK);
        ASSERT_EQ(OpenPort_Modbus(Port, 1, 0), MODBUS485_OPEN_OK);
        if (c.variable == leftPipe)
            ::close(leftReader); // the next trace line meets a pipe without a reader
        int good = 0;
        for (int i = 0; i < 60; ++i)
            good += Get_4X_UnD1(Port, Station, 1) == 101;
        EXPECT_EQ(good, 60);
        const std::vector<int32_t> counted = counters();
        EXPECT_EQ(counted[MODBUS485_COUNTER_GOOD], 60);
        EXPECT_EQ(counted[MODBUS485_COUNTER_TRACE_DROPPED] > 0, c.drops);
        if (c.lines >= 0) {
            EXPECT_EQ(lines(c.variable).size(), c.lines);
        } else if (c.variable != fifo && c.variable != leftPipe) {
            EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                      before);
        }
        QFile::remove(m_dir.filePath("trace.log"));
        QDir::setCurrent(startFolder);
    }
    ::close(reader);
}
