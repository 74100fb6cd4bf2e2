// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "caretrest.h"

#include <QApplication>
#include <QEvent>

namespace {

// Clearing the application's own rate makes Qt ask the desktop's theme again.
constexpr int DesktopsOwnRate = -1;

} // namespace

CaretRest::CaretRest(std::chrono::milliseconds restAfter, QObject *parent) : QObject(parent)
{
    // Below 2 ms Qt does not blink at all: the desktop wants a still cursor.
    if (QApplication::cursorFlashTime() < 2)
        return;
    m_rest.setSingleShot(true);
    m_rest.setInterval(restAfter);
    connect(&m_rest, &QTimer::timeout, this, &CaretRest::rest);
    qApp->installEventFilter(this);
    m_rest.start();
}

CaretRest::~CaretRest()
{
    if (m_resting)
        QApplication::setCursorFlashTime(DesktopsOwnRate);
}

bool CaretRest::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::WindowActivate:
        wake();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CaretRest::rest()
{
    m_resting = true;
    QApplication::setCursorFlashTime(0);
}

void CaretRest::wake()
{
    if (m_resting) {
        m_resting = false;
        QApplication::setCursorFlashTime(DesktopsOwnRate);
    }
    // From the latest input, however long the typing goes on.
    m_rest.start();
}
