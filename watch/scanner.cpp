#include "scanner.h"

namespace Scanner {

qsizetype findMarker(QStringView text, QStringView marker, qsizetype from)
{
    // Both markers begin with a character that is rare in a user list, so
    // hopping between occurrences of it (a vectorised search) and comparing the
    // rest there beats a general substring search by a wide margin.
    const QChar first = marker.front();
    const QStringView rest = marker.sliced(1);
    const qsizetype last = text.size() - marker.size();
    while (from <= last) {
        const qsizetype at = text.indexOf(first, from);
        if (at < 0 || at > last)
            return -1;
        if (text.sliced(at + 1, rest.size()) == rest)
            return at;
        from = at + 1;
    }
    return -1;
}

QStringList scanOnlineNames(QStringView strPage, ScanPositions &positions)
{
    QStringList names;
    positions.intPos = 0;
    while (true) {
        const qsizetype start = findMarker(strPage, StartMarker, positions.intPos);
        if (start < 0)
            break;
        positions.intStart = start + StartMarker.size();
        const qsizetype end = findMarker(strPage, EndMarker, positions.intStart);
        if (end < 0)
            break;
        positions.intLen = end - positions.intStart;
        names.append(strPage.sliced(positions.intStart, positions.intLen).toString());
        positions.intPos = positions.intStart + positions.intLen;
    }
    return names;
}

} // namespace Scanner
