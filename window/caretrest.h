// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// Lets the text cursor stop blinking once the user has left the program
// alone for a while, as GNOME and Windows do with their own text fields. A
// window left watching all evening would otherwise wake twice a second to
// blink, which costs more than its polls. The cursor stays shown, solid; a
// key, a click or coming back to the window hands the blink back to the
// desktop, at whatever rate the desktop's settings say by then. Where the
// desktop does not blink the cursor at all, nothing changes.
//
// The blink rate is application-wide, so there is one of these, in main().
class CaretRest : public QObject
{
public:
    explicit CaretRest(std::chrono::milliseconds restAfter = std::chrono::seconds(10),
                       QObject *parent = nullptr);
    ~CaretRest() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wake();
    void rest();

    bool m_resting = false;
    QTimer m_rest;
};
