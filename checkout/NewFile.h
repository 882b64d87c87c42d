#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// A file of the record and what it must hold.
struct NewFile {
    QString path;
    QByteArray bytes;
    QByteArray ending; // what the file must end with (a PDF's trailer), blanks after it aside; empty for none
};

// Writes the files whole, or none of them, and never over a file that exists: each goes to a temporary file
// in its own folder, is checked (the size on the disk is the size meant, the ending is there), forced to the
// disk and only then renamed to its name. Any failure leaves none of them behind. False with the reason.
bool writeNewFiles(const std::vector<NewFile> &files, QString &error);
