// The real window and platform against a real web server: nginx from the
// distribution, on free loopback ports, serving the user list as a static
// page, gzip-compressed and chunked, in UTF-8 and in windows-1252.
// A machine without nginx fails this test: it is part of the set-up.

#include "hardeningsupport.h"
#include "timer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;
using namespace Hardening;

namespace {

const QString NginxBinary = u"/usr/sbin/nginx"_s;
const QString Suffix = u" har kommit in på Vindriks chatt"_s;
// Š is where windows-1252 and Latin-1 part ways.
const QStringList Names{u"Åsa"_s, u"Björn"_s, u"Märta"_s, u"Göran"_s, u"Šimon"_s};

QString page(const QString &head)
{
    QString text = u"<html><head>"_s + head + u"<title>Inne i chatten</title></head><body>\n"_s;
    for (const QString &name : Names)
        text += u"<a href=\"#\" onclick=\"valj='%1';\" >%1</a><br>\n"_s.arg(name);
    return text + u"</body></html>\n"_s;
}

QByteArray cp1252(const QString &text)
{
    QStringEncoder encoder("windows-1252");
    return encoder.encode(text);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The head of a raw GET that asks for gzip, as the program does.
QByteArray responseHead(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write("GET /login/chat/users.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Accept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    QByteArray raw;
    while (!raw.contains("\r\n\r\n") && socket.waitForReadyRead(2000))
        raw += socket.readAll();
    return raw.left(raw.indexOf("\r\n\r\n"));
}

} // namespace

class TstRealWebServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void nginxSendsTheListGzippedInChunks_data();
    void nginxSendsTheListGzippedInChunks();
    void swedishNamesComeOutIntactFromNginx_data();
    void swedishNamesComeOutIntactFromNginx();

private:
    void addServerRows();

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_nginx;
    quint16 m_portUtf8 = 0;
    quint16 m_portCp1252 = 0;
    quint16 m_portMeta = 0;
};

void TstRealWebServer::initTestCase()
{
    quietHeadlessNoise();
    QVERIFY2(QFileInfo(NginxBinary).isExecutable(),
             "nginx is missing: install the Debian package nginx");
    QVERIFY(m_dir.isValid());
    const QString dir = m_dir.path();

    const QString list = u"/login/chat/users.asp"_s;
    QVERIFY(writeFile(dir + u"/utf8"_s + list, page({}).toUtf8()));
    QVERIFY(writeFile(dir + u"/cp1252"_s + list, cp1252(page({}))));
    QVERIFY(writeFile(dir + u"/meta"_s + list,
                      cp1252(page(u"<meta http-equiv=\"Content-Type\" "
                                  u"content=\"text/html; charset=windows-1252\">"_s))));

    // Free ports: held all at once so they differ, then handed to nginx.
    {
        QTcpServer a, b, c;
        QVERIFY(a.listen(QHostAddress::LocalHost) && b.listen(QHostAddress::LocalHost) &&
                c.listen(QHostAddress::LocalHost));
        m_portUtf8 = a.serverPort();
        m_portCp1252 = b.serverPort();
        m_portMeta = c.serverPort();
    }

    QString config = readFile(QStringLiteral(VINDRIK_NGINX_TEMPLATE));
    QVERIFY2(!config.isEmpty(), VINDRIK_NGINX_TEMPLATE);
    config.replace(u"@DIR@"_s, dir)
        .replace(u"@PORT_UTF8@"_s, QString::number(m_portUtf8))
        .replace(u"@PORT_CP1252@"_s, QString::number(m_portCp1252))
        .replace(u"@PORT_META@"_s, QString::number(m_portMeta));
    QVERIFY(writeFile(dir + u"/nginx.conf"_s, config.toUtf8()));

    m_nginx = std::make_unique<QProcess>();
    m_nginx->setProcessChannelMode(QProcess::MergedChannels);
    // Should this test die, nginx goes with it instead of holding the ports.
    m_nginx->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_nginx->start(NginxBinary, {u"-p"_s, dir + u'/', u"-c"_s, dir + u"/nginx.conf"_s, u"-e"_s,
                                 dir + u"/error.log"_s});
    QVERIFY2(m_nginx->waitForStarted(5000), qPrintable(m_nginx->errorString()));

    // Ready once every port answers; a bad configuration ends nginx at once.
    const auto answers = [](quint16 port) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(200);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(
        m_nginx->state() != QProcess::Running ||
            (answers(m_portUtf8) && answers(m_portCp1252) && answers(m_portMeta)),
        "nginx did not open its ports", 10000);
    QVERIFY2(m_nginx->state() == QProcess::Running,
             qPrintable(u"nginx ended: "_s + QString::fromLocal8Bit(m_nginx->readAll()) +
                        readFile(dir + u"/error.log"_s)));
}

void TstRealWebServer::cleanupTestCase()
{
    if (!m_nginx)
        return;
    m_nginx->terminate();
    if (!m_nginx->waitForFinished(5000)) {
        m_nginx->kill();
        m_nginx->waitForFinished(2000);
    }
    // At level warn: anything at all means the configuration or a request
    // went wrong.
    const QString errors = readFile(m_dir.path() + u"/error.log"_s);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void TstRealWebServer::addServerRows()
{
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QString>("charset"); // in the Content-Type header, if any

    QTest::newRow("UTF-8, charset in the header") << m_portUtf8 << u"utf-8"_s;
    QTest::newRow("windows-1252, charset in the header") << m_portCp1252 << u"windows-1252"_s;
    QTest::newRow("windows-1252, charset in a meta tag only") << m_portMeta << QString();
}

void TstRealWebServer::nginxSendsTheListGzippedInChunks_data()
{
    addServerRows();
}

// Without this, the test below could pass against a plain, whole body.
void TstRealWebServer::nginxSendsTheListGzippedInChunks()
{
    QFETCH(quint16, port);
    QFETCH(QString, charset);

    const QString head = QString::fromLatin1(responseHead(port));
    QVERIFY2(head.startsWith(u"HTTP/1.1 200"_s), qPrintable(head));
    const auto has = [&head](const QString &line) {
        return QRegularExpression(u"\\r\\n"_s + line + u"\\r?$"_s,
                                  QRegularExpression::CaseInsensitiveOption |
                                      QRegularExpression::MultilineOption)
            .match(head)
            .hasMatch();
    };
    QVERIFY2(has(u"Content-Encoding: gzip"_s), qPrintable(head));
    QVERIFY2(has(u"Transfer-Encoding: chunked"_s), qPrintable(head));
    QVERIFY2(!head.contains(u"Content-Length"_s, Qt::CaseInsensitive), qPrintable(head));
    if (charset.isEmpty())
        QVERIFY2(has(u"Content-Type: text/html"_s), qPrintable(head));
    else
        QVERIFY2(has(u"Content-Type: text/html; charset="_s + charset), qPrintable(head));
}

void TstRealWebServer::swedishNamesComeOutIntactFromNginx_data()
{
    addServerRows();
}

void TstRealWebServer::swedishNamesComeOutIntactFromNginx()
{
    QFETCH(quint16, port);

    DesktopPlatform::Limits limits;
    limits.transferTimeoutMs = 2000;
    Window window(userListUrl(u"127.0.0.1:%1"_s.arg(port)), limits);
    window.watch(0, QString(), {"chkPopup"});
    window.watch(2, u"Märta"_s, {"chkPopup"});
    window.watch(4, u"Šimon"_s, {"chkPip"});
    // Bytes of a UTF-8 "Göran" read as windows-1252.
    window.watch(5, u"GÃ¶ran"_s, {"chkPopup"});
    BoxDismisser boxes;

    const qint64 took = window.tick();

    QVERIFY2(took < 2000 + 1500, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QVERIFY2(QRegularExpression(statusPattern(u"5 personer online"_s))
                 .match(window.status->text())
                 .hasMatch(),
             qPrintable(window.status->text()));
    QCOMPARE(listed(window.list), Names);
    QCOMPARE(boxes.texts(), QStringList{u"Märta"_s + Suffix});
    QCOMPARE(window.platform.beeps, 1);
}

QTEST_MAIN(TstRealWebServer)
#include "tst_realwebserver.moc"
