// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "polloutcome.h"
#include "watchstate.h"

#include <QString>
#include <QUrl>

#include <optional>

class Platform;

inline constexpr QStringView AlertSuffix = u" har kommit in på Vindriks chatt";
inline constexpr QStringView AlertTitle = u"Personen du söker har kommit in";
inline constexpr QStringView SoundFileName = u"Hej.WAV";
inline constexpr QStringView UserListPath = u"/login/chat/users.asp";

// http://host/login/chat/users.asp, for a host or host:port.
QUrl userListUrl(const QString &host);

// The poll interval the interval box asks for, in ms: whole seconds 1 to 65
// (spaces around them allowed), larger whole numbers capped at WatchState::MaxPollInterval.
// Anything else (0, empty, negative, not a whole number) asks for no change,
// so a slip of the keyboard can never stop the watching for good.
std::optional<int> intervalFromText(const QString &text);

// folder + "Hej.WAV" with exactly one separator, in the platform's own style.
QString soundFilePath(const QString &programFolder);

// One poll of the user-list page per tick of the poll timer: set the next
// interval, clear, fetch, scan into the online list, then walk the list and
// raise the alerts of each matching watch row. Keeps nothing between polls.
// Once the user has stopped watching, the poll under way still lists what it
// found but raises no more alerts.
class PollCycle
{
public:
    PollCycle(WatchState &state, Platform &platform, QUrl pageUrl);

    PollOutcome poll();
    // For a closing window: abandons the fetch under way and raises no more
    // alerts in the poll that is running.
    void cancel();
    bool isRunning() const { return m_running; }
    const QUrl &pageUrl() const { return m_pageUrl; }

private:
    void walk();
    void raiseAlerts(int row, qsizetype entry);
    bool mayAlert() const { return !m_cancelled && m_state.isWatching(); }

    WatchState &m_state;
    Platform &m_platform;
    QUrl m_pageUrl;
    bool m_running = false;
    bool m_cancelled = false;
};
