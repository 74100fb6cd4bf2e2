#include "barefetch.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

QByteArray bareFetch(QNetworkAccessManager &network, const QUrl &url)
{
    QNetworkReply *reply = network.get(QNetworkRequest(url));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

qint64 bareFetchNs(QNetworkAccessManager &network, const QUrl &url, qsizetype &bytes)
{
    QElapsedTimer clock;
    clock.start();
    bytes = bareFetch(network, url).size();
    return clock.nsecsElapsed();
}
