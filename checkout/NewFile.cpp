#include "NewFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <memory>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool syncToDisk(QFile &file) {
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#else
    return fsync(file.handle()) == 0;
#endif
}

// The renames are on the disk too once the folder is: a crash just after leaves the files, not their loss.
void syncFolder(const QString &path) {
#ifndef Q_OS_WIN
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY);
    if (folder >= 0) {
        fsync(folder);
        ::close(folder);
    }
#else
    Q_UNUSED(path);
#endif
}

// A file of the record under a temporary name in the folder of its own name, removed unless kept. Made as any
// new file is (the umask's permissions, not a temporary file's owner-only ones), never over another.
class Temporary {
public:
    ~Temporary() {
        // Closed first and removed by its name: a close that fails (a full disk) keeps QFile::remove() from
        // removing.
        m_file.close();
        if (m_made && !m_kept)
            QFile::remove(m_file.fileName());
    }
    bool open(const QString &path) {
        const QDir folder = QFileInfo(path).absoluteDir();
        for (int tries = 0; tries < 16; ++tries) {
            m_file.setFileName(
                folder.filePath(QStringLiteral("qm4107-%1.tmp")
                                    .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0'))));
            if (m_file.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
                return m_made = true;
        }
        return false;
    }
    QFile &file() { return m_file; }
    void keep() { m_kept = true; }

private:
    QFile m_file;
    bool m_made = false;
    bool m_kept = false;
};

// The bytes written to a temporary file, checked and on the disk; the reason when not.
QString writeChecked(const NewFile &file, Temporary &temporary) {
    QFile &f = temporary.file();
    if (!temporary.open(file.path))
        return f.errorString();
    // A write cut short is tried on from where it stopped, so that the system's reason comes out.
    for (qint64 done = 0; done < file.bytes.size();) {
        const qint64 n = f.write(file.bytes.constData() + done, file.bytes.size() - done);
        if (n <= 0)
            return f.errorString();
        done += n;
    }
    if (!f.flush())
        return f.errorString();
    if (!syncToDisk(f))
        return QStringLiteral("无法存入磁盘");
    const qint64 size = QFileInfo(f.fileName()).size();
    if (size != file.bytes.size())
        return QStringLiteral("写入 %1 字节，应为 %2 字节").arg(size).arg(file.bytes.size());
    if (!file.ending.isEmpty()) {
        const qint64 tail = std::min<qint64>(size, file.ending.size() + 16);
        if (!f.seek(size - tail) || !f.read(tail).trimmed().endsWith(file.ending))
            return QStringLiteral("文件结尾不完整");
    }
    f.close();
    return {};
}

} // namespace

bool writeNewFiles(const std::vector<NewFile> &files, QString &error) {
    for (const NewFile &file : files)
        if (QFileInfo::exists(file.path)) {
            error = QStringLiteral("%1 已存在，不覆盖").arg(file.path);
            return false;
        }
    // Every file whole on the disk under a temporary name before any takes its own.
    std::vector<std::unique_ptr<Temporary>> temporaries;
    for (const NewFile &file : files) {
        temporaries.push_back(std::make_unique<Temporary>());
        const QString reason = writeChecked(file, *temporaries.back());
        if (!reason.isEmpty()) {
            error = QStringLiteral("无法写入记录：%1：%2").arg(QDir::toNativeSeparators(file.path), reason);
            return false;
        }
    }
    // A rename never replaces a file (one made since the check above included); one that fails takes back
    // those made before it.
    for (size_t i = 0; i < files.size(); ++i)
        if (QFile::rename(temporaries[i]->file().fileName(), files[i].path)) {
            temporaries[i]->keep();
        } else {
            error = QFileInfo::exists(files[i].path) ? QStringLiteral("%1 已存在，不覆盖").arg(files[i].path)
                                                     : QStringLiteral("无法写入记录：%1：无法改名")
                                                           .arg(QDir::toNativeSeparators(files[i].path));
            for (size_t j = 0; j < i; ++j)
                QFile::remove(files[j].path);
            return false;
        }
    if (!files.empty())
        syncFolder(files.front().path);
    return true;
}
