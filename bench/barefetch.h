#pragma once

#include <QByteArray>
#include <QUrl>

class QNetworkAccessManager;

// What a program with no watch engine would do: GET the page, wait in an
// event loop, read it all. Returns the body.
QByteArray bareFetch(QNetworkAccessManager &network, const QUrl &url);

// The same, returning the nanoseconds it took; bytes gets the size of the body.
qint64 bareFetchNs(QNetworkAccessManager &network, const QUrl &url, qsizetype &bytes);
