#pragma once

#include "fetchresult.h"

#include <QUrl>

#include <memory>

class QNetworkAccessManager;

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

private:
    class PageRequest;

    const Limits m_limits;
    std::unique_ptr<QNetworkAccessManager> m_network;
    PageRequest *m_request = nullptr;
};
