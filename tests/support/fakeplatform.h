// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "platform.h"

#include <QQueue>
#include <QStringList>
#include <QTest>

#include <functional>

// Records every platform call in order and answers fetches from a queue.
// Nothing here blocks: a "message box" returns at once, after running the
// optional onMessage hook (a test uses it to act while the box is "open").
class FakePlatform : public Platform
{
public:
    FetchResult fetchPage(const QUrl &url) override
    {
        calls << QStringLiteral("fetch ") + url.toString();
        if (onFetch)
            onFetch();
        if (!fetchAnswers.isEmpty())
            return fetchAnswers.dequeue();
        // An empty page would be "nobody online", an answer the test never gave.
        QTest::qFail("a fetch that no answer was queued for", __FILE__, __LINE__);
        return FetchResult::failure(FetchResult::Error::Network);
    }
    void cancelFetch() override { calls << QStringLiteral("cancel"); }
    void showMessage(const QString &text, const QString &title) override
    {
        calls << QStringLiteral("message %1|%2").arg(title, text);
        if (onMessage)
            onMessage(text, title);
    }
    void beep() override { calls << QStringLiteral("beep"); }
    void playSoundFile(const QString &path) override { calls << QStringLiteral("sound ") + path; }
    QString programFolder() const override { return QStringLiteral("/opt/vindrik"); }

    // Answers for the next fetches; a fetch with none queued fails the test.
    QQueue<FetchResult> fetchAnswers;
    // Run during a fetch or a message, as if the event loop ran meanwhile.
    std::function<void()> onFetch;
    std::function<void(const QString &text, const QString &title)> onMessage;
    // "fetch <url>", "message <title>|<text>", "beep", "sound <path>", "cancel"
    QStringList calls;
};
