// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "polloutcome.h"

#include <QStringList>

using namespace Qt::StringLiterals;

QString failureReason(const FetchResult &failure)
{
    using Error = FetchResult::Error;
    switch (failure.error) {
    case Error::None:
        return {};
    case Error::HttpStatus:
        return u"servern svarade med HTTP-status %1"_s.arg(failure.httpStatus);
    case Error::Timeout:
        return u"tidsgränsen överskreds"_s;
    case Error::TooLarge:
        return u"sidan var för stor"_s;
    case Error::ConnectionRefused:
        return u"anslutningen nekades"_s;
    case Error::HostNotFound:
        return u"värden hittades inte"_s;
    case Error::Truncated:
        return u"svaret bröts av i förtid"_s;
    case Error::Redirect:
        return u"sidan omdirigerades för många gånger eller till en annan värd"_s;
    case Error::UnknownEncoding:
        return u"sidan var packad på ett sätt som programmet inte kan läsa"_s;
    case Error::BadGzip:
        return u"sidans packade innehåll var trasigt"_s;
    case Error::Unreadable:
        return u"sidan gick inte att läsa som text"_s;
    case Error::Certificate:
        return u"certifikatet kunde inte verifieras"_s;
    case Error::Tls:
        return u"ingen säker anslutning kunde upprättas"_s;
    case Error::ProxyLogin:
        return u"proxyservern kräver inloggning"_s;
    case Error::ProxyUnreachable:
        return u"proxyservern gick inte att nå"_s;
    case Error::Proxy:
        return u"fel hos proxyservern"_s;
    case Error::Cancelled:
        return u"hämtningen avbröts"_s;
    case Error::Network:
        break;
    }
    return u"nätverksfel"_s;
}

QString countText(qsizetype names)
{
    if (names == 0)
        return u"ingen online"_s;
    if (names == 1)
        return u"1 person online"_s;
    return u"%1 personer online"_s.arg(names);
}

QString statusLine(const PollOutcome &outcome, QStringView when)
{
    switch (outcome.kind) {
    case PollOutcome::Kind::Listed:
        return u"Senaste kontroll %1: %2"_s.arg(when, countText(outcome.nameCount));
    case PollOutcome::Kind::FetchFailed:
        // Never to be mistaken for an empty chat.
        return u"Senaste kontroll %1: kunde inte nå chattsidan – %2"_s.arg(
            when, failureReason(outcome.failure));
    case PollOutcome::Kind::Busy:
    case PollOutcome::Kind::Cancelled:
        break;
    }
    return {};
}

QString statusLineTip(const PollOutcome &outcome)
{
    QStringList lines;
    if (outcome.kind == PollOutcome::Kind::FetchFailed)
        lines << outcome.failure.detail;
    // Whom to ask when it fails: the proxy, if the fetch went through one.
    if (!outcome.proxy.isEmpty())
        lines << u"via proxyservern "_s + outcome.proxy;
    lines.removeAll(QString());
    return lines.join(u'\n');
}
