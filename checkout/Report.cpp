#include "Report.h"

#include "CabinetRecord.h"
#include "CsvReport.h"
#include "Journal.h"
#include "NewFile.h"
#include "PdfReport.h"
#include "RecordNames.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <optional>

namespace {

QByteArray csvOf(const CheckRecord &record) {
    return csvReport(record);
}
QByteArray csvOf(const CabinetReport &report) {
    return cabinetCsvReport(report);
}
QByteArray pdfOf(const CheckRecord &record) {
    return pdfReport(record);
}
QByteArray pdfOf(const CabinetReport &report) {
    return cabinetPdfReport(report);
}

// The record's files to write: the CSV and the PDF, each when its path is not empty. False with the reason
// when the PDF could not be made.
template <typename Record>
bool recordFiles(const Record &record, const QString &csvPath, const QString &pdfPath,
                 std::vector<NewFile> &files, QString &error) {
    if (!csvPath.isEmpty())
        files.push_back({csvPath, csvOf(record), {}});
    if (!pdfPath.isEmpty()) {
        const QByteArray pdf = pdfOf(record);
        if (pdf.isEmpty()) {
            error = QStringLiteral("无法生成 PDF：%1").arg(pdfPath);
            return false;
        }
        files.push_back({pdfPath, pdf, PdfTrailer});
    }
    return true;
}

template <typename Record>
bool writeFilesOf(const Record &record, const QString &folder, const QString &name, QString &error) {
    const QDir dir(folder);
    std::vector<NewFile> files;
    return recordFiles(record, dir.filePath(name + QStringLiteral(".csv")),
                       dir.filePath(name + QStringLiteral(".pdf")), files, error) &&
           writeNewFiles(files, error);
}

} // namespace

bool writeRecordFiles(const CheckRecord &record, const QString &folder, const QString &name, QString &error) {
    return writeFilesOf(record, folder, name, error);
}

bool writeCabinetFiles(const CabinetReport &report, const QString &folder, const QString &name,
                       QString &error) {
    return writeFilesOf(report, folder, name, error);
}

int runReport(const QStringList &arguments) {
    QTextStream err(stderr);
    QTextStream out(stdout);
    if (arguments.contains(u"--help")) {
        out << "Usage: qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]\n"
               "JOURNAL is a module's NAME.jsonl or a cabinet's CABINET_yyyyMMdd-HHmmss.jsonl\n";
        return 0;
    }
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
        err << "Usage: qm4107-checkout report JOURNAL [--csv FILE] [--pdf FILE]\n"
               "JOURNAL is a module's NAME.jsonl or a cabinet's CABINET_yyyyMMdd-HHmmss.jsonl\n";
        return 2;
    }
    if (csvPath.isEmpty() && pdfPath.isEmpty()) {
        const QFileInfo journal(journalPath);
        const QString base = journal.dir().filePath(journal.completeBaseName());
        csvPath = base + QStringLiteral(".csv");
        pdfPath = base + QStringLiteral(".pdf");
    }

    // A cabinet's journal is known by its header line, or by its name when that line is damaged.
    QByteArray bytes;
    QString error;
    if (!readJournalBytes(journalPath, bytes, error)) {
        err << journalPath << ": " << error << '\n';
        return 1;
    }
    std::optional<CabinetReport> cabinet;
    JournalContents contents;
    if (CabinetContents c = parseCabinetJournal(bytes);
        c.isCabinet || RecordNames::isCabinetName(QFileInfo(journalPath).completeBaseName())) {
        contents.refused = c.refused;
        contents.reason = c.reason;
        contents.skippedLines = c.skippedLines;
        cabinet = cabinetReport(c.record, QFileInfo(journalPath).path());
    } else {
        contents = parseJournal(bytes);
    }
    if (contents.refused) {
        err << journalPath << ": " << contents.reason << '\n';
        return 1;
    }
    if (contents.skippedLines > 0)
        err << journalPath << ": " << contents.skippedLines << " 行无法读取，已跳过\n";
    if (cabinet)
        for (const QString &warning : cabinet->warnings)
            err << warning << '\n';

    // Refuse before writing anything, so that a refusal leaves no half of the pair.
    for (const QString &path : {csvPath, pdfPath})
        if (!path.isEmpty() && QFileInfo::exists(path)) {
            err << path << " 已存在，不覆盖\n";
            return 1;
        }
    std::vector<NewFile> files;
    if (!(cabinet ? recordFiles(*cabinet, csvPath, pdfPath, files, error)
                  : recordFiles(contents.record, csvPath, pdfPath, files, error)) ||
        !writeNewFiles(files, error)) {
        err << error << '\n';
        return 1;
    }
    for (const NewFile &file : files)
        out << file.path << '\n';
    return 0;
}
