#include "fakeplatform.h"

FetchResult FakePlatform::fetchPage(const QUrl &url)
{
    calls << QStringLiteral("fetch ") + url.toString();
    if (onFetch)
        onFetch();
    if (fetchAnswers.isEmpty())
        return FetchResult::page(QString());
    return fetchAnswers.dequeue();
}

void FakePlatform::cancelFetch()
{
    calls << QStringLiteral("cancel");
}

void FakePlatform::showMessage(const QString &text, const QString &title)
{
    calls << QStringLiteral("message %1|%2").arg(title, text);
    if (onMessage)
        onMessage(text, title);
}

void FakePlatform::beep()
{
    calls << QStringLiteral("beep");
}

void FakePlatform::playSoundFile(const QString &path)
{
    calls << QStringLiteral("sound ") + path;
}
