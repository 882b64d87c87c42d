#pragma once

#include <QIODevice>
#include <QString>

#include <functional>

// Writes a file of the record whole or not at all (QSaveFile), and never over a file that exists.
// `write` fills the device and returns false to abandon the file. False with the reason when nothing was
// written.
bool writeNewFile(const QString &path, const std::function<bool(QIODevice &)> &write, QString &error);
