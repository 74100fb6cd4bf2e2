// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QFile>
#include <QRegularExpression>

// A figure of this process from /proc/self/status in kB: "VmHWM" (peak
// resident memory), "VmRSS" and the like; -1 if there is none.
inline qint64 procStatusKiB(const char *field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    const QRegularExpression line(QStringLiteral("^%1:\\s*(\\d+)").arg(QLatin1StringView(field)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch found = file.open(QIODevice::ReadOnly)
                                              ? line.match(QString::fromLatin1(file.readAll()))
                                              : QRegularExpressionMatch();
    return found.hasMatch() ? found.captured(1).toLongLong() : -1;
}
