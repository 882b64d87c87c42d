#pragma once

#include "MODBUS485.h"
#include "ModuleMap.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// What a checkout records about one module: the header, the module as found and as left, one result per
// point, and the closing. The walk builds it as it goes; the journal reader rebuilds it from the journal; the
// CSV and the PDF are made from it.

enum class PointKind { Output, Input, Counter };

// One point of the module: Y1-Y5, X1-X10 or C1-C3.
struct PointId {
    PointKind kind = PointKind::Output;
    int number = 1;

    QString name() const;
    static std::optional<PointId> parse(const QString &name);
    bool operator==(const PointId &) const = default;
};

// Every point in the order the walk takes them (outputs, inputs, counters); the record's sequence.
const std::vector<PointId> &walkOrder();
// Position of a point in walkOrder(), from 1.
int sequenceOf(const PointId &point);

enum class Result { Untested, Pass, Fail, Skip };
// Comms: the line was down when the point failed.
enum class Defect { None, Module, Wiring, FieldDevice, Other, Comms };

// The words of the record ("通过", "模块") and the journal's codes ("pass", "module").
QString resultWord(Result result);
QString defectWord(Defect defect);
QString resultCode(Result result);
QString defectCode(Defect defect);
std::optional<Result> resultFromCode(const QString &code);
std::optional<Defect> defectFromCode(const QString &code);

// A line of the I/O list: what the plant calls a point and where it is wired.
struct IoEntry {
    QString tag;
    QString terminal;
    QString description;
    bool operator==(const IoEntry &) const = default;
};

struct RecordHeader {
    QString project;
    QString location;
    QString moduleTag;
    QString engineer;
    QString witness;
    int port = 1;
    int station = 1;
    int baudCode = 1;   // 0/1/2 = 4800/9600/19200
    int parityCode = 0; // 0/1/2 = none/odd/even
    QString programVersion;
    QString start;                 // ISO 8601 with the offset
    std::map<QString, IoEntry> io; // by point name
    bool operator==(const RecordHeader &) const = default;
};

// Everything readable on the module at one moment; a value that could not be read is Unread.
struct ModuleSnapshot {
    static constexpr int Unread = -8888;
    template <int N> static constexpr std::array<int, N> unread() {
        std::array<int, N> values{};
        values.fill(Unread);
        return values;
    }
    std::array<int, ModuleMap::OutputCount> outputs = unread<ModuleMap::OutputCount>();
    std::array<int, ModuleMap::InputCount> inputs = unread<ModuleMap::InputCount>();
    std::array<int, ModuleMap::CounterCount> counts = unread<ModuleMap::CounterCount>();
    std::array<int, ModuleMap::CounterCount> presets = unread<ModuleMap::CounterCount>();
    std::array<int, ModuleMap::CounterCount> clearModes = unread<ModuleMap::CounterCount>();
    std::array<int, ModuleMap::CounterCount> frequencies = unread<ModuleMap::CounterCount>();
    int parity = Unread;
    bool operator==(const ModuleSnapshot &) const = default;

    // A block as the library read it, taken in by the module map: the coil block's first word, the input
    // block's two words, the eight holding registers from the counter block's start, the frequency block.
    void takeCoils(int32_t coils);
    void takeInputs(std::span<const int32_t, 2> words);
    void takeCounterBlock(std::span<const int32_t, 8> holding);
    void takeFrequencies(std::span<const int32_t, 8> block);
};

struct PointResult {
    PointId point;
    QString checked;  // what was done
    QString expected; // what should have been seen
    QString observed; // what was seen
    QString field;    // what the engineer confirmed in the field
    Result result = Result::Untested;
    Defect defect = Defect::None;
    QString remark;
    QString time; // ISO 8601 with the offset, when it completed
    int tries = 0;
    bool operator==(const PointResult &) const = default;
};

// The line's counters over the walk, indexed by the library's counter numbers (MODBUS485_COUNTER_): the sums
// over every time the walk opened the port. Only those of recorded() are kept; the others stay 0.
struct LineCounters {
    // A counter the record keeps, with its key in the journal.
    struct Recorded {
        int counter;
        const char *key;
    };
    // In the order the record shows them, the counters line's.
    static std::span<const Recorded> recorded();
    // The recorded counters of the library's `values`, indexed by counter number.
    static LineCounters from(std::span<const int32_t> values);

    std::array<qint64, MODBUS485_COUNTERS> values{};
    qint64 &operator[](int counter) { return values[counter]; }
    qint64 operator[](int counter) const { return values[counter]; }
    bool operator==(const LineCounters &) const = default;
    LineCounters &operator+=(const LineCounters &other);
    // Each counter with the panel's word for it ("请求", "正常", "无应答"...), in the counters line's order.
    std::vector<std::pair<QString, qint64>> labelled() const;
    // "请求 120，正常 118，无应答 2，…"
    QString text() const;
};

struct Closing {
    QString end;
    QString remark;
    QString trace;              // the trace's file name, beside the record
    QString traceSha256;        // hex, empty when there was no trace
    QStringList unknownOutputs; // outputs that could not be put back
    bool cancelled = false;     // the walk was cancelled, its record made of what it had done
    bool operator==(const Closing &) const = default;
};

// "通过 16，失败 1，跳过 1，未测 0": counts by Result, as tally() gives them, in the record's words.
QString tallyText(const std::array<int, 4> &counts);

struct CheckRecord {
    RecordHeader header;
    std::optional<ModuleSnapshot> asFound;
    std::optional<ModuleSnapshot> asLeft;
    std::vector<PointResult> points; // in the order they completed; a later result for a point replaces one
    std::optional<Closing> closing;
    LineCounters counters;      // over the walk, as far as the journal holds them
    QStringList outputsChanged; // outputs switched by the walk and not yet confirmed back
    QStringList presetsChanged; // counters whose test preset is not yet confirmed back
    // Each counter's count before the walk cleared it, the first journaled.
    std::map<QString, int> countsFound;
    QStringList waived;     // test values left as they were, by the engineer's choice
    bool cancelled = false; // the walk was cancelled and put back what it changed

    // Points whose test value a killed walk left in the module: outputs, then presets.
    QStringList leftChanged() const { return outputsChanged + presetsChanged; }
    // How many points passed, failed, were skipped and not tested, by Result.
    std::array<int, 4> tally() const;

    // The result of each point in walk order, Untested where there is none.
    std::vector<PointResult> table() const;
    void addResult(const PointResult &result);
};
