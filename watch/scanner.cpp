// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "scanner.h"

namespace Scanner {

QStringList scanOnlineNames(QStringView strPage, ScanPositions &positions)
{
    QStringList names;
    positions.intPos = 0;
    while (true) {
        const qsizetype start = strPage.indexOf(StartMarker, positions.intPos);
        if (start < 0)
            break;
        positions.intStart = start + StartMarker.size();
        const qsizetype end = strPage.indexOf(EndMarker, positions.intStart);
        if (end < 0)
            break;
        positions.intLen = end - positions.intStart;
        names.append(strPage.sliced(positions.intStart, positions.intLen).toString());
        positions.intPos = positions.intStart + positions.intLen;
    }
    return names;
}

} // namespace Scanner
