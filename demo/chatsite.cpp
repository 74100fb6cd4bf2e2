// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "chatsite.h"

#include "pollcycle.h"

#include <QString>

#include <optional>

using namespace Qt::StringLiterals;

namespace ChatSite {

namespace {

// FNV-1a: a hash that is the same in every process and on every machine, which
// qHash (seeded per process) is not.
quint64 fnv1a(QByteArrayView bytes)
{
    quint64 hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// splitmix64's finaliser: neighbouring slots give unrelated bits.
quint64 mix(quint64 x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

qint64 slotOf(qint64 secsSinceEpoch)
{
    qint64 slot = secsSinceEpoch / SlotSeconds;
    if (secsSinceEpoch % SlotSeconds < 0)
        --slot;
    return slot;
}

bool isPresent(const QString &name, qint64 slot)
{
    if (name == AlwaysOnline)
        return true;
    // About two in five of the regulars are in at any time.
    return mix(fnv1a(name.toUtf8()) ^ static_cast<quint64>(slot)) % 100 < 40;
}

struct RequestLine {
    QByteArrayView method;
    QByteArrayView target;
    QByteArrayView version;
};

std::optional<RequestLine> parseRequestLine(QByteArrayView head)
{
    const qsizetype end = head.indexOf('\n');
    QByteArrayView line = end < 0 ? head : head.first(end);
    if (line.endsWith('\r'))
        line.chop(1);
    const qsizetype first = line.indexOf(' ');
    const qsizetype last = line.lastIndexOf(' ');
    if (first <= 0 || last == first || last == line.size() - 1)
        return std::nullopt;
    RequestLine request{line.first(first), line.sliced(first + 1, last - first - 1),
                        line.sliced(last + 1)};
    if (request.target.isEmpty() || request.target.contains(' '))
        return std::nullopt;
    return request;
}

// The path of an origin-form ("/a?b") or absolute-form ("http://host/a") target.
QByteArrayView pathOf(QByteArrayView target)
{
    static constexpr QByteArrayView scheme = "http://";
    if (target.size() >= scheme.size() &&
        target.first(scheme.size()).compare(scheme, Qt::CaseInsensitive) == 0) {
        const qsizetype slash = target.indexOf('/', scheme.size());
        target = slash < 0 ? QByteArrayView("/") : target.sliced(slash);
    }
    for (const char stop : {'?', '#'}) {
        const qsizetype at = target.indexOf(stop);
        if (at >= 0)
            target = target.first(at);
    }
    return target;
}

QByteArray response(int code, QByteArrayView reason, const QByteArray &body, bool withBody,
                    QByteArrayView extraHeaders = {})
{
    QByteArray raw = "HTTP/1.1 " + QByteArray::number(code) + ' ' + reason.toByteArray() + "\r\n";
    raw += "Content-Type: text/html; charset=utf-8\r\n";
    raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    // Every poll must see who is in now, not who was in when a cache filled.
    raw += "Cache-Control: no-store\r\n";
    raw += extraHeaders.toByteArray();
    raw += "Connection: close\r\n\r\n";
    if (withBody)
        raw += body;
    return raw;
}

QByteArray errorPage(QByteArrayView title)
{
    return "<!DOCTYPE html>\n<html lang=\"sv\"><head><meta charset=\"utf-8\"><title>" +
           title.toByteArray() + "</title></head>\n<body><h1>" + title.toByteArray() +
           "</h1></body></html>\n";
}

} // namespace

QStringList regulars()
{
    // None of these needs escaping in HTML or in the onclick's quotes.
    return {u"Kalle"_s, u"Åsa"_s,   u"Björn"_s, u"Märta"_s,       u"Göran"_s,   u"Lotta"_s,
            u"Örjan"_s, u"Stina"_s, u"Håkan"_s, u"Maja"_s,        u"Pelle"_s,   u"Ingrid"_s,
            u"Bosse"_s, u"Tove"_s,  u"Jöns"_s,  u"Sjöjungfrun"_s, u"Älgen_77"_s};
}

QStringList onlineAt(qint64 secsSinceEpoch)
{
    const qint64 slot = slotOf(secsSinceEpoch);
    QStringList online;
    for (const QString &name : regulars()) {
        if (isPresent(name, slot))
            online << name;
    }
    return online;
}

QString userLink(const QString &name)
{
    return u"<a href=\"#\" onclick=\"valj='%1';\" >%1</a><br>\n"_s.arg(name);
}

QByteArray userListPage(const QStringList &names)
{
    QByteArray page = "<!DOCTYPE html>\n"
                      "<html lang=\"sv\">\n"
                      "<head>\n<meta charset=\"utf-8\">\n<title>Vilka är inne?</title>\n"
                      "<script>var valj = '';</script>\n</head>\n"
                      "<body>\n<h1>Inne i chatten just nu</h1>\n<p>" +
                      QByteArray::number(names.size()) +
                      " inne. Klicka på ett namn för att viska.</p>\n";
    for (const QString &name : names)
        page += userLink(name).toUtf8();
    page += "<p><a href=\"/login/chat/\">Tillbaka till chatten</a></p>\n</body>\n</html>\n";
    return page;
}

QByteArray respond(QByteArrayView requestHead, qint64 secsSinceEpoch)
{
    const std::optional<RequestLine> request = parseRequestLine(requestHead);
    if (!request || !request->version.startsWith("HTTP/"))
        return response(400, "Bad Request", errorPage("Felaktig förfrågan"), true);
    if (request->version != "HTTP/1.1" && request->version != "HTTP/1.0")
        return response(505, "HTTP Version Not Supported", errorPage("Fel HTTP-version"), true);

    const bool head = request->method == "HEAD";
    if (request->method != "GET" && !head)
        return response(405, "Method Not Allowed", errorPage("Metoden stöds inte"), true,
                        "Allow: GET, HEAD\r\n");
    if (QLatin1StringView(pathOf(request->target)) != UserListPath)
        return response(404, "Not Found", errorPage("Sidan finns inte"), !head);
    return response(200, "OK", userListPage(onlineAt(secsSinceEpoch)), !head);
}

} // namespace ChatSite
