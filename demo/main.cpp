// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "chatsite.h"
#include "pageserver.h"
#include "pollcycle.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"demochat"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"A demo chat site on this machine for Vindriks Chatt sökning to watch. "
        "People come and go every few seconds; Kalle is always in."_s);
    parser.addHelpOption();
    const QCommandLineOption portOption(
        u"port"_s, u"Listen on this port (0: any free one) instead of %1."_s.arg(DEMOCHAT_PORT),
        u"port"_s);
    parser.addOption(portOption);
    parser.process(app);

    quint16 port = DEMOCHAT_PORT;
    if (parser.isSet(portOption)) {
        bool ok = false;
        const uint value = parser.value(portOption).toUInt(&ok);
        if (!ok || value > 65535) {
            std::fprintf(stderr, "demochat: not a port number: %s\n",
                         qPrintable(parser.value(portOption)));
            return 2;
        }
        port = static_cast<quint16>(value);
    }

    PageServer server;
    server.setResponder([](const QByteArray &head) {
        return PageServer::reply(ChatSite::respond(head, QDateTime::currentSecsSinceEpoch()));
    });
    if (!server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "demochat: cannot listen on 127.0.0.1:%u: %s\n", unsigned(port),
                     qPrintable(server.errorString()));
        return 1;
    }
    std::printf("Demo chat listening on %s\n",
                qPrintable(userListUrl(server.hostAndPort()).toString()));
    std::fflush(stdout);
    return app.exec();
}
