// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "fetchresult.h"

#include <QString>
#include <QUrl>

// Everything the watch engine and the window need from the desktop and the
// network. The desktop implementation lives in DesktopPlatform; tests pass a
// fake that records the calls.
class Platform
{
public:
    virtual ~Platform() = default;

    // Returns when the transfer is complete, has failed, or was cancelled. The
    // desktop version keeps the event loop running meanwhile, so the caller
    // must expect other timers and clicks to be handled before it returns.
    virtual FetchResult fetchPage(const QUrl &url) = 0;
    // Abandons a fetch under way; it then returns Error::Cancelled.
    virtual void cancelFetch() = 0;

    // Modal box with one OK button and no icon; the text is never read as markup.
    virtual void showMessage(const QString &text, const QString &title) = 0;
    virtual void beep() = 0;
    // Starts playback and returns at once; a missing or unplayable file is ignored.
    virtual void playSoundFile(const QString &path) = 0;
    virtual QString programFolder() const = 0;
};
