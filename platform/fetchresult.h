// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

#include <QObject>
#include <QString>

// What became of one fetch of the user-list page. A failure never carries a
// page: an error page from the server must not read as "nobody online".
struct FetchResult {
    Q_GADGET
public:
    enum class Error {
        None,
        HttpStatus,        // the server answered, but not with 2xx
        Timeout,           // the whole transfer took longer than allowed
        TooLarge,          // the body passed the size limit
        ConnectionRefused, // nothing listens at the address
        HostNotFound,      // the host name does not resolve
        Truncated,         // the connection closed before the body was complete
        Redirect,          // too many redirects, or one to another host
        UnknownEncoding,   // a Content-Encoding not asked for; detail names it
        BadGzip,           // the gzip body does not unpack
        Unreadable,        // the body is no text in any encoding it was read in
        Certificate,       // the server's certificate is not trusted; detail says why
        Tls,               // no secure connection could be made
        ProxyLogin,        // the proxy wants a login (407)
        ProxyUnreachable,  // the proxy refused the connection, was not found or did not answer
        Proxy,             // any other failure of the proxy's
        Cancelled,         // abandoned by the program (window closing)
        Network,           // any other transport failure
    };
    Q_ENUM(Error)

    Error error = Error::None;
    int httpStatus = 0; // the status line's code, when the server sent one
    QString text;       // the decoded body; empty unless ok()
    QString detail;     // the transport's own words, for whoever asks; never shown as the reason
    QString proxy;      // "host:port" of the proxy the fetch went through, if it did

    bool ok() const { return error == Error::None; }

    static FetchResult page(QString body)
    {
        FetchResult r;
        r.text = std::move(body);
        r.httpStatus = 200;
        return r;
    }
    static FetchResult failure(Error error, int httpStatus = 0, QString detail = {})
    {
        FetchResult r;
        r.error = error;
        r.httpStatus = httpStatus;
        r.detail = std::move(detail);
        return r;
    }
};
