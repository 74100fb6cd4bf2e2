#include "barefetch.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

qint64 bareFetchNs(QNetworkAccessManager &network, const QUrl &url, qsizetype &bytes)
{
    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray data = reply->readAll();
    const qint64 ns = clock.nsecsElapsed();
    bytes = data.size();
    reply->deleteLater();
    return ns;
}
