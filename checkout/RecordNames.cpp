#include "RecordNames.h"

#include <QDir>
#include <QFileInfo>

namespace RecordNames {

namespace {
constexpr int MaxPart = 40;
const char *const Extensions[] = {".jsonl", ".csv", ".pdf", ".trace"};

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

QString baseName(const QString &project, const QString &tag, const QDateTime &start) {
    return safePart(project) + u'_' + safePart(tag) + u'_' +
           start.toString(QStringLiteral("yyyyMMdd-HHmmss"));
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
