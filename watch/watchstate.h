// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>
#include <QStringList>

// Where the scanner stands in strPage; the window owns these, the scanner sets
// them afresh on every scan. Positions are 0-based character indices.
struct ScanPositions {
    qsizetype intPos = 0;   // where the next search for a start marker begins
    qsizetype intStart = 0; // first character of the current name
    qsizetype intLen = 0;   // length of the current name
};

enum class Option { Popup, Pip, Ljud };

// The window's state as the watch engine sees it: the eight watch rows, the
// online list with its selection, the interval box, the poll timer's interval,
// whether the user is watching, and the page buffer. Form1 implements it;
// tests implement it in memory.
class WatchState
{
public:
    static constexpr int RowCount = 8;
    // The longest wait the poll timer can hold, in ms.
    static constexpr int MaxPollInterval = 65535;

    virtual ~WatchState() = default;

    // Combo1: the text the interval box shows, chosen or typed.
    virtual QString intervalText() const = 0;
    // Timer1: the wait before the next tick, counted from now; 0 to MaxPollInterval.
    virtual void setPollInterval(int ms) = 0;
    // "Starta programmet" pressed and not yet "Stoppa programmet".
    virtual bool isWatching() const = 0;

    // Text1 takes the text, then strPage is copied from Text1.
    virtual void setPage(const QString &text) = 0;
    virtual QString page() const = 0;
    virtual ScanPositions &scanPositions() = 0;

    // List1
    virtual void clearOnline() = 0;
    virtual void appendOnline(const QStringList &names) = 0;
    virtual qsizetype onlineCount() const = 0;
    virtual QString onlineText(qsizetype index) const = 0;
    virtual void selectOnline(qsizetype index) = 0; // -1: no selection

    // Watch rows 0 to 7.
    virtual QString nick(int row) const = 0;
    virtual bool isTicked(int row, Option option) const = 0;
    virtual void setTicked(int row, Option option, bool ticked) = 0;
    virtual void setOptionEnabled(int row, Option option, bool enabled) = 0;
};
