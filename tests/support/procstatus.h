#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

// A figure of this process from /proc/self/status, in kB: "VmHWM" (peak
// resident memory), "VmRSS" and the like. -1 if the field or the file is missing.
inline qint64 procStatusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith(key))
            continue;
        // "VmHWM:\t   35312 kB"
        bool ok = false;
        const qint64 kib = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
        return ok ? kib : -1;
    }
    return -1;
}
