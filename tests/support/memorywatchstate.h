// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "watchstate.h"

#include <QList>

#include <array>

// The window's state held in plain members, for engine tests.
class MemoryWatchState : public WatchState
{
public:
    struct Row {
        QString nick;
        std::array<bool, 3> ticked{};
        std::array<bool, 3> enabled{true, true, true};
    };

    QString intervalText() const override { return interval; }
    void setPollInterval(int ms) override { pollIntervals << ms; }
    bool isWatching() const override { return watching; }
    void setPage(const QString &text) override { strPage = text; }
    QString page() const override { return strPage; }
    ScanPositions &scanPositions() override { return positions; }
    void clearOnline() override
    {
        online.clear();
        selected = -1;
    }
    void appendOnline(const QStringList &names) override { online += names; }
    qsizetype onlineCount() const override { return online.size(); }
    QString onlineText(qsizetype index) const override { return online.value(index); }
    void selectOnline(qsizetype index) override { selectionHistory << (selected = index); }
    QString nick(int row) const override { return rows.at(row).nick; }
    bool isTicked(int row, Option option) const override
    {
        return rows.at(row).ticked.at(int(option));
    }
    void setTicked(int row, Option option, bool ticked) override
    {
        rows.at(row).ticked.at(int(option)) = ticked;
    }
    void setOptionEnabled(int row, Option option, bool enabled) override
    {
        rows.at(row).enabled.at(int(option)) = enabled;
    }

    QString interval = QStringLiteral("3");
    QList<int> pollIntervals;
    bool watching = true;
    QString strPage;
    ScanPositions positions;
    QStringList online;
    qsizetype selected = -1;
    QList<qsizetype> selectionHistory;
    std::array<Row, RowCount> rows;
};
