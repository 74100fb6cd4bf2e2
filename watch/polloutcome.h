// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "fetchresult.h"

#include <QString>
#include <QStringView>

// What one poll came to, for the window's status line.
struct PollOutcome {
    enum class Kind {
        Listed,      // the page was read; nameCount names are in the list
        FetchFailed, // the page could not be had; the list is empty
        Busy,        // the previous poll was still running; nothing was done
        Cancelled,   // the window is closing; the poll was abandoned
    };
    Kind kind = Kind::Busy;
    qsizetype nameCount = 0;
    FetchResult failure; // for FetchFailed
    QString proxy;       // "host:port" of the proxy the fetch went through, if it did
};

// The status line's words, in Swedish.
// Why the page could not be had; empty for a page that was read.
QString failureReason(const FetchResult &failure);
// "ingen online", "1 person online", "3 personer online".
QString countText(qsizetype names);
// The whole line for a poll that began at `when` (HH:mm:ss); empty for a poll
// that did nothing (Busy, Cancelled), which leaves the line as it was.
QString statusLine(const PollOutcome &outcome, QStringView when);
// The line's tooltip, plain text: the transport's own words for a failure,
// often English, and the proxy the fetch went through, if it did.
QString statusLineTip(const PollOutcome &outcome);
