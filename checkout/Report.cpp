#include "Report.h"

#include "CsvReport.h"
#include "Journal.h"
#include "NewFile.h"
#include "PdfReport.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

bool writeRecordFiles(const CheckRecord &record, const QString &folder, const QString &name, QString &error) {
    const QDir dir(folder);
    const QByteArray csv = csvReport(record);
    return writeNewFile(
               dir.filePath(name + QStringLiteral(".csv")),
               [&](QIODevice &d) { return d.write(csv) == csv.size(); }, error) &&
           writeNewFile(
               dir.filePath(name + QStringLiteral(".pdf")),
               [&](QIODevice &d) { return writePdfReport(record, d); }, error);
}

int runReport(const QStringList &arguments) {
    QTextStream err(stderr);
    QTextStream out(stdout);
    QString journalPath, csvPath, pdfPath;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if ((a == u"--csv" || a == u"--pdf") && i + 1 < arguments.size()) {
            (a == u"--csv" ? csvPath : pdfPath) = arguments[++i];
        } else if (!a.startsWith(u"--") && journalPath.isEmpty()) {
            journalPath = a;
        } else {
            journalPath.clear();
            break;
        }
    }
    if (journalPath.isEmpty()) {
        err << "Usage: qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]\n";
        return 2;
    }
    if (csvPath.isEmpty() && pdfPath.isEmpty()) {
        const QFileInfo journal(journalPath);
        const QString base = journal.dir().filePath(journal.completeBaseName());
        csvPath = base + QStringLiteral(".csv");
        pdfPath = base + QStringLiteral(".pdf");
    }

    const JournalContents contents = readJournal(journalPath);
    if (contents.refused) {
        err << journalPath << ": " << contents.reason << '\n';
        return 1;
    }
    if (contents.skippedLines > 0)
        err << journalPath << ": " << contents.skippedLines << " 行无法读取，已跳过\n";

    // Refuse before writing anything, so that a refusal leaves no half of the pair.
    for (const QString &path : {csvPath, pdfPath})
        if (!path.isEmpty() && QFileInfo::exists(path)) {
            err << path << " 已存在，不覆盖\n";
            return 1;
        }
    QString error;
    if (!csvPath.isEmpty()) {
        const QByteArray csv = csvReport(contents.record);
        if (!writeNewFile(
                csvPath, [&](QIODevice &d) { return d.write(csv) == csv.size(); }, error)) {
            err << error << '\n';
            return 1;
        }
        out << csvPath << '\n';
    }
    if (!pdfPath.isEmpty()) {
        if (!writeNewFile(
                pdfPath, [&](QIODevice &d) { return writePdfReport(contents.record, d); }, error)) {
            err << error << '\n';
            return 1;
        }
        out << pdfPath << '\n';
    }
    return 0;
}
