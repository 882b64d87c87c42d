#include "NewFile.h"

#include <QFileInfo>
#include <QSaveFile>

bool writeNewFile(const QString &path, const std::function<bool(QIODevice &)> &write, QString &error) {
    if (QFileInfo::exists(path)) {
        error = QStringLiteral("%1 已存在，不覆盖").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("无法写入 %1：%2").arg(path, file.errorString());
        return false;
    }
    if (!write(file)) {
        file.cancelWriting();
        error = QStringLiteral("无法写入 %1：%2").arg(path, file.errorString());
        return false;
    }
    // The check above and the rename below are not one step: a file made in between would be replaced.
    if (QFileInfo::exists(path)) {
        file.cancelWriting();
        error = QStringLiteral("%1 已存在，不覆盖").arg(path);
        return false;
    }
    if (!file.commit()) {
        error = QStringLiteral("无法写入 %1：%2").arg(path, file.errorString());
        return false;
    }
    return true;
}
