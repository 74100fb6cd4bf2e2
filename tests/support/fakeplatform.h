#pragma once

#include "platform.h"

#include <QQueue>
#include <QStringList>

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
        return fetchAnswers.isEmpty() ? FetchResult::page({}) : fetchAnswers.dequeue();
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

    // Answers for the next fetches; when empty, a fetch returns an empty page.
    QQueue<FetchResult> fetchAnswers;
    // Run during a fetch or a message, as if the event loop ran meanwhile.
    std::function<void()> onFetch;
    std::function<void(const QString &text, const QString &title)> onMessage;
    // "fetch <url>", "message <title>|<text>", "beep", "sound <path>", "cancel"
    QStringList calls;
};
