// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include "fetchresult.h"

#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkProxy;

// The page over HTTP(S), with Qt Network and zlib alone: redirects within the
// chat site, gzip, a deadline for the whole transfer and a size limit. One
// fetch at a time: the poll that calls it is the one that keeps that rule.
class PageFetcher
{
public:
    struct Limits {
        int transferTimeoutMs = 10'000; // the whole transfer, not the gap between bytes
        qint64 maxBodyBytes = qint64(8) * 1024 * 1024; // a user list is kilobytes; this is plenty
        int maxRedirects = 5;
    };

    explicit PageFetcher(const Limits &limits);
    ~PageFetcher();
    PageFetcher(const PageFetcher &) = delete;
    PageFetcher &operator=(const PageFetcher &) = delete;

    // Returns when the page is read or has failed; the event loop runs meanwhile.
    FetchResult fetch(const QUrl &url);
    // Ends the fetch under way at once; it returns Error::Cancelled.
    void cancel();
    // Left alone, the proxy is the one Qt reads from the desktop's settings
    // or http_proxy; tests set their own (Qt bypasses those for loopback).
    void setProxy(const QNetworkProxy &proxy);

private:
    class PageRequest;

    // The proxy a request for url goes through, as Qt's network manager picks it.
    QNetworkProxy proxyFor(const QUrl &url) const;

    const Limits m_limits;
    std::unique_ptr<QNetworkAccessManager> m_network;
    PageRequest *m_request = nullptr;
};
