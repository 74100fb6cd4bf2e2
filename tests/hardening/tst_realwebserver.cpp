// The real window and platform against nginx from the distribution serving
// the user list gzipped and chunked, in UTF-8 and in windows-1252. A machine
// without nginx fails this test: it is part of the set-up.

#include "hardeningsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;
using namespace Hardening;

namespace {

const QString NginxBinary = u"/usr/sbin/nginx"_s;
// Š is where windows-1252 and Latin-1 part ways.
const QStringList Names{u"Åsa"_s, u"Björn"_s, u"Märta"_s, u"Göran"_s, u"Šimon"_s};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The head of a raw GET that asks for gzip, as the program does.
QString responseHead(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET /login/chat/users.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Accept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    QByteArray raw;
    while (!raw.contains("\r\n\r\n") && socket.waitForReadyRead(2000))
        raw += socket.readAll();
    return QString::fromLatin1(raw.left(raw.indexOf("\r\n\r\n"))).toLower();
}

} // namespace

class TstRealWebServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void swedishNamesComeOutIntactFromGzippedChunks_data();
    void swedishNamesComeOutIntactFromGzippedChunks();

private:
    QTemporaryDir m_dir;
    QProcess m_nginx;
    quint16 m_portUtf8 = 0;
    quint16 m_portCp1252 = 0;
};

void TstRealWebServer::initTestCase()
{
    quietHeadlessNoise();
    QVERIFY2(QFileInfo(NginxBinary).isExecutable(),
             "nginx is missing: install the Debian package nginx");
    QVERIFY(m_dir.isValid());
    const QString dir = m_dir.path();

    const QByteArray page = HttpTestServer::userListPage(Names);
    QStringEncoder toCp1252("windows-1252");
    QVERIFY(writeFile(dir + u"/utf8/login/chat/users.asp"_s, page));
    QVERIFY(writeFile(dir + u"/cp1252/login/chat/users.asp"_s,
                      toCp1252.encode(QString::fromUtf8(page))));

    // Free ports: held both at once so they differ, then handed to nginx.
    {
        QTcpServer a, b;
        QVERIFY(a.listen(QHostAddress::LocalHost) && b.listen(QHostAddress::LocalHost));
        m_portUtf8 = a.serverPort();
        m_portCp1252 = b.serverPort();
    }
    // One process in the foreground, so the test owns it, writing only into the
    // test's folder. Compressed, so with no length known, sent in chunks.
    const QString config = uR"(daemon off; master_process off; worker_processes 1;
pid %1/nginx.pid; error_log %1/error.log warn;
events { worker_connections 64; }
http {
    access_log off; client_body_temp_path %1/body; proxy_temp_path %1/proxy;
    fastcgi_temp_path %1/fastcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;
    types { text/html asp; }
    gzip on; gzip_min_length 1;
    server { listen 127.0.0.1:%2; root %1/utf8; charset utf-8; }
    server { listen 127.0.0.1:%3; root %1/cp1252; charset windows-1252; }
}
)"_s.arg(dir, QString::number(m_portUtf8), QString::number(m_portCp1252));
    QVERIFY(writeFile(dir + u"/nginx.conf"_s, config.toUtf8()));

    m_nginx.setProcessChannelMode(QProcess::MergedChannels);
    // Should this test die, nginx goes with it instead of holding the ports.
    m_nginx.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_nginx.start(NginxBinary, {u"-p"_s, dir + u'/', u"-c"_s, dir + u"/nginx.conf"_s, u"-e"_s,
                                dir + u"/error.log"_s});
    QVERIFY2(m_nginx.waitForStarted(5000), qPrintable(m_nginx.errorString()));

    // Ready once both ports answer; a bad configuration ends nginx at once.
    QTRY_VERIFY2_WITH_TIMEOUT(
        m_nginx.state() != QProcess::Running ||
            (!responseHead(m_portUtf8).isEmpty() && !responseHead(m_portCp1252).isEmpty()),
        "nginx did not open its ports", 10000);
    QVERIFY2(m_nginx.state() == QProcess::Running,
             qPrintable(u"nginx ended: "_s + QString::fromLocal8Bit(m_nginx.readAll()) +
                        readFile(dir + u"/error.log"_s)));
}

void TstRealWebServer::cleanupTestCase()
{
    m_nginx.terminate();
    if (!m_nginx.waitForFinished(5000))
        m_nginx.kill();
    // At level warn, anything logged means something went wrong.
    const QString errors = readFile(m_dir.path() + u"/error.log"_s);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

void TstRealWebServer::swedishNamesComeOutIntactFromGzippedChunks_data()
{
    QTest::addColumn<quint16>("port");
    QTest::addColumn<QString>("charset");

    QTest::newRow("UTF-8") << m_portUtf8 << u"utf-8"_s;
    QTest::newRow("windows-1252") << m_portCp1252 << u"windows-1252"_s;
}

void TstRealWebServer::swedishNamesComeOutIntactFromGzippedChunks()
{
    QFETCH(quint16, port);
    QFETCH(QString, charset);

    // Else this could pass against a plain, whole body.
    const QString head = responseHead(port);
    QVERIFY2(head.startsWith(u"http/1.1 200"_s), qPrintable(head));
    QVERIFY2(!head.contains(u"content-length"_s), qPrintable(head));
    for (const QString &line : {u"content-encoding: gzip"_s, u"transfer-encoding: chunked"_s,
                                u"content-type: text/html; charset="_s + charset})
        QVERIFY2(head.contains(u"\r\n"_s + line), qPrintable(head));

    Window window(userListUrl(u"127.0.0.1:%1"_s.arg(port)), {2000});
    window.watch(0, QString(), {"chkPopup"});
    window.watch(2, u"Märta"_s, {"chkPopup"});
    window.watch(4, u"Šimon"_s, {"chkPip"});
    // Bytes of a UTF-8 "Göran" read as windows-1252.
    window.watch(5, u"GÃ¶ran"_s, {"chkPopup"});
    BoxDismisser boxes;

    const qint64 took = window.tick();

    QVERIFY2(took < 2000 + 1500, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QCOMPARE(window.outcome(), u"5 personer online"_s);
    QCOMPARE(window.listed(), Names);
    QCOMPARE(boxes.texts, QStringList{u"Märta"_s + Suffix});
    QCOMPARE(window.platform.beeps, 1);
}

QTEST_MAIN(TstRealWebServer)
#include "tst_realwebserver.moc"
