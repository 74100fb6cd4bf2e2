// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "timer.h"

#include <algorithm>

Timer::Timer(QObject *parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Timer::ticked);
}

void Timer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    apply();
}

void Timer::setInterval(int ms)
{
    m_interval = std::clamp(ms, 0, MaxInterval);
    apply();
}

void Timer::apply()
{
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval); // (re)starts: the wait counts from now
    else
        m_timer.stop();
}
