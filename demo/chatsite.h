// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// The demo chat's user list: who is in the chat at a given moment, and the
// page and HTTP answers a real chat site would give for it. Time is always
// passed in, so every answer can be reproduced.
namespace ChatSite {

// People come and go at slot boundaries; within a slot the list stands still.
inline constexpr qint64 SlotSeconds = 7;
// Always in the chat, so a watcher of this nick is alerted on the first poll.
inline constexpr QStringView AlwaysOnline = u"Kalle";

// Everyone who ever visits the demo chat, in the order the page lists them.
QStringList regulars();

// Who is in the chat at the given time (seconds since the epoch), in page order.
QStringList onlineAt(qint64 secsSinceEpoch);

// One name's link on the user list: the markup the program reads names from.
QString userLink(const QString &name);
// The user-list page for these names, as UTF-8 HTML.
QByteArray userListPage(const QStringList &names);

// The complete HTTP response to a request head (request line and header lines,
// up to and including the blank line), for the given time. Every response
// closes the connection.
QByteArray respond(QByteArrayView requestHead, qint64 secsSinceEpoch);

} // namespace ChatSite
