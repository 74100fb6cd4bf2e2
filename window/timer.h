// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "watchstate.h"

#include <QObject>
#include <QTimer>

// A window timer with an enabled flag and an interval of 0 to
// WatchState::MaxPollInterval ms.
// Unlike a bare QTimer, an interval of 0 means "never fires" rather than "fires
// on every pass of the event loop", and a new interval always counts from the
// moment it is set.
class Timer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxInterval = WatchState::MaxPollInterval;

    explicit Timer(QObject *parent = nullptr);

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const { return m_interval; }
    void setInterval(int ms);
    // True while a tick is actually due: enabled and a non-zero interval.
    bool isRunning() const { return m_timer.isActive(); }

Q_SIGNALS:
    void ticked();

private:
    void apply();

    QTimer m_timer;
    bool m_enabled = false;
    int m_interval = 0;
};
