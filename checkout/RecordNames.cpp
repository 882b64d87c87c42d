#include "RecordNames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace RecordNames {

namespace {
constexpr int MaxPart = 40;
const char *const Extensions[] = {".jsonl", ".csv", ".pdf", ".trace"};
// What NAME leaves room for after it: "-9999" for a clash and the longest extension.
constexpr int Suffix = 5 + 6;
// "_yyyyMMdd-HHmmss" after the project and the tag, and the "_" between them.
constexpr int Stamp = 16 + 1;

int bytesOf(const QString &text) {
    return int(text.toUtf8().size());
}

// The text cut at a character boundary to at most `bytes` of UTF-8 and `units` of UTF-16, without a
// trailing dot or blank; "_" when nothing is left.
QString cut(const QString &text, int bytes, int units) {
    QString kept;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        if (bytesOf(kept) + bytesOf(character) > bytes || kept.size() + length > units)
            break;
        kept += character;
        i += length;
    }
    while (kept.endsWith(u'.') || kept.endsWith(u' '))
        kept.chop(1);
    return kept.isEmpty() ? QStringLiteral("_") : kept;
}

bool reservedOnWindows(const QString &part) {
    const QString stem = part.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList plain = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                      QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                      QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (plain.contains(stem))
        return true;
    return stem.size() == 4 && (stem.startsWith(u"COM") || stem.startsWith(u"LPT")) && stem[3] >= u'0' &&
           stem[3] <= u'9';
}
} // namespace

QString safePart(const QString &part) {
    QString safe;
    for (const QChar c : part.trimmed()) {
        const bool illegal =
            c.unicode() < 0x20 || c.unicode() == 0x7F || QStringView(u"<>:\"/\\|?*").contains(c);
        safe += illegal ? QChar(u'_') : c;
    }
    // Count characters, not UTF-16 units, and never split a surrogate pair.
    const auto units = safe.toUcs4();
    if (units.size() > MaxPart)
        safe = QString::fromUcs4(reinterpret_cast<const char32_t *>(units.constData()), MaxPart);
    while (safe.endsWith(u'.') || safe.endsWith(u' '))
        safe.chop(1);
    if (safe.isEmpty())
        return QStringLiteral("_");
    if (reservedOnWindows(safe))
        safe.prepend(u'_');
    return safe;
}

QString baseName(const QString &project, const QString &tag, const QDateTime &start, int room) {
    QString first = safePart(project), second = safePart(tag);
    const int bytes = MaxNameBytes - Suffix - Stamp, units = room - Suffix - Stamp;
    // The shorter part keeps what it can of an even share; the longer gets the rest.
    const bool firstLonger = bytesOf(first) >= bytesOf(second);
    QString &shorter = firstLonger ? second : first, &longer = firstLonger ? first : second;
    shorter = cut(shorter, bytes / 2, units / 2);
    longer = cut(longer, bytes - bytesOf(shorter), units - int(shorter.size()));
    return first + u'_' + second + u'_' + start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

QString cabinetBaseName(const QDateTime &start) {
    return QStringLiteral("CABINET_") + start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

bool isCabinetName(const QString &name) {
    static const QRegularExpression form(QStringLiteral("^CABINET_[0-9]{8}-[0-9]{6}(-[0-9]+)?$"));
    return form.match(name).hasMatch();
}

int roomIn(const QString &folder) {
#ifdef Q_OS_WIN
    return MaxWindowsPath - int(QDir::toNativeSeparators(QDir(folder).absolutePath()).size()) - 1;
#else
    Q_UNUSED(folder);
    return MaxNameBytes;
#endif
}

QString folderProblem(const QString &folder) {
    // The shortest name: "_", "_", the start, a clash's "-N" and an extension.
    if (roomIn(folder) < 1 + Stamp + 1 + Suffix)
        return QStringLiteral(
                   "记录文件夹 %1 的路径太长：记录文件的完整路径须少于 260 个字符，请选择较短的路径。")
            .arg(QDir::toNativeSeparators(folder));
    return {};
}

QString unusedBaseName(const QString &folder, const QString &name) {
    const QDir dir(folder);
    for (int n = 1;; ++n) {
        const QString candidate = n == 1 ? name : name + u'-' + QString::number(n);
        bool taken = false;
        for (const char *extension : Extensions)
            taken = taken || QFileInfo::exists(dir.filePath(candidate + QLatin1String(extension)));
        if (!taken)
            return candidate;
    }
}

} // namespace RecordNames
