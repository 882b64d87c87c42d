#pragma once

#include <QDir>

// The number of file descriptors this process has open, sockets and pipes included.
inline int openDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                .size());
}
