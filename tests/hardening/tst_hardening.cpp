// The real window and platform against servers that misbehave, pages far
// bigger than any chat's, nginx from the distribution, and an evening of
// polls. Each poll must end in time, say what happened, raise no alert from
// garbage, and leave watching on.

#include "chatsite.h"
#include "desktopplatform.h"
#include "form1.h"
#include "pageserver.h"
#include "pollcycle.h"
#include "timer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

using namespace Qt::StringLiterals;
using Script = PageServer::Script;
Q_DECLARE_METATYPE(PageServer::Step)

namespace {

constexpr int TimeoutMs = 2000;
constexpr int MarginMs = 1500; // for the work around the transfer
const QString Suffix = u" har kommit in på Vindriks chatt"_s;

// The real platform and window, keeping every alert: box texts, "Pip", "Ljud".
class CountingPlatform : public DesktopPlatform
{
public:
    using DesktopPlatform::DesktopPlatform;
    void beep() override { alerts << u"Pip"_s, DesktopPlatform::beep(); }
    void playSoundFile(const QString &path) override
    {
        alerts << u"Ljud"_s, DesktopPlatform::playSoundFile(path);
    }
    QStringList alerts;
};

struct Window : QObject {
    explicit Window(quint16 port, qint64 maxBody = 1024 * 1024)
        : platform({TimeoutMs, maxBody}), form(platform, userListUrl(u"127.0.0.1:%1"_s.arg(port)))
    {
        platform.setDialogParent(&form);
        form.show();
        QCoreApplication::instance()->installEventFilter(this);
    }
    // Answers every real message box the moment it shows, as a user would.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show) {
            platform.alerts << box->text();
            QTimer::singleShot(0, box, [box] { box->accept(); });
        }
        return false;
    }
    template <typename T> T *get(const QString &name) { return form.findChild<T *>(name); }
    void watch(int row, const QString &nick, const QStringList &options)
    {
        get<QLineEdit>(u"txtNick%1"_s.arg(row))->setText(nick);
        for (const QString &option : options)
            get<QCheckBox>(option + QString::number(row))->setChecked(true);
    }
    // What only a wrongly read page lists: the empty name, "Mär", "Märta".
    void watchTrapsEverySecond()
    {
        watch(0, {}, {u"chkPopup"_s, u"chkPip"_s});
        watch(1, u"Mär"_s, {u"ChkLjud"_s});
        watch(2, u"Märta"_s, {u"chkPopup"_s});
        get<QComboBox>(u"Combo1"_s)->setEditText(u"1"_s);
        get<QPushButton>(u"CmdKnapp"_s)->click();
    }
    qint64 tick() // ms
    {
        QElapsedTimer clock;
        clock.start();
        Q_EMIT get<Timer>(u"Timer1"_s)->ticked();
        return clock.elapsed();
    }
    QString outcome()
    {
        static const QRegularExpression line(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s);
        return get<QLabel>(u"lblStatus"_s)->text().remove(line);
    }
    QStringList listed()
    {
        QStringList names;
        for (QListWidget *list = get<QListWidget>(u"List1"_s); names.size() < list->count();)
            names << list->item(int(names.size()))->text();
        return names;
    }
    QStringList alerts() { return std::exchange(platform.alerts, {}); }

    CountingPlatform platform;
    Form1 form;
};

qint64 procStatusKiB(const char *field)
{
    QFile file(u"/proc/self/status"_s);
    const QRegularExpression line(u"^%1:\\s*(\\d+)"_s.arg(QLatin1StringView(field)),
                                  QRegularExpression::MultilineOption);
    return file.open(QIODevice::ReadOnly)
               ? line.match(QString::fromLatin1(file.readAll())).captured(1).toLongLong()
               : 0;
}

QByteArray gzipped(const QByteArray &body)
{
    QProcess gzip;
    gzip.start(u"gzip"_s, {u"-c"_s});
    gzip.write(body);
    gzip.closeWriteChannel();
    return gzip.waitForFinished() ? gzip.readAllStandardOutput() : QByteArray();
}

QByteArray link(const QByteArray &name)
{
    return "<a href=\"#\" onclick=\"valj='x';\" >" + name + "</a><br>\n";
}
QByteArray pageOf(const QList<QByteArray> &links)
{
    return "<html><body>\n" + links.join() + "</body></html>\n";
}
const QByteArray GoodPage = pageOf({link("Åsa"), link("Björn"), link("Märta"), link("Göran")});
const QStringList GoodNames = u"Åsa Björn Märta Göran"_s.split(u' ');
const QByteArray TrapPage = pageOf({link(""), link("Mär"), link("Märta")});

Script utf8(const QByteArray &head, const QByteArray &body, const char *version = "1.1")
{
    return PageServer::reply("HTTP/" + QByteArray(version) +
                             " 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n" + head +
                             "\r\n" + body);
}

// A byte a second, then a close.
Script trickle(const QByteArray &raw)
{
    Script script;
    for (const char byte : raw)
        script << PageServer::Step{.bytes = QByteArray(1, byte), .pauseMs = 1000};
    script << PageServer::Step{.close = true};
    return script;
}

} // namespace

class TstHardening : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void hostileAnswerIsReadRightOrFailsWithoutAlerts_data();
    void hostileAnswerIsReadRightOrFailsWithoutAlerts();
    void hugeRosterAndHugeNamesAreListedAndMatched();
    void hundredMegabytesAreRefusedWithoutGrowingTowardsThem();
    void swedishNamesSurviveNginxGzipChunks_data();
    void swedishNamesSurviveNginxGzipChunks();
    void twoThousandPollsWithAlertsDoNotGrowMemory();

private:
    PageServer m_server;
    PageServer m_otherHost;
};

void TstHardening::initTestCase()
{
    // Headless, every box and sound warns; 2,000 polls of that hit QTest's limit.
    static const QtMessageHandler passOn = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            static const QRegularExpression noise(u"propagateSizeHints|audio device|PulseAudio"_s);
            if (type != QtWarningMsg || !message.contains(noise))
                passOn(type, context, message);
        });
    QVERIFY(m_server.listen());
    QVERIFY2(m_otherHost.listen(QHostAddress(u"127.0.0.2"_s)), "127.0.0.2 is not loopback here");
    // Were a redirect there followed, this would list the trap names.
    m_otherHost.serve(PageServer::ok(TrapPage));
}

void TstHardening::hostileAnswerIsReadRightOrFailsWithoutAlerts_data()
{
    QTest::addColumn<QList<Script>>("scripts"); // served in turn, over and over
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QStringList>("names");
    const QString failed = u"kunde inte nå chattsidan – "_s;
    const QString redirected =
        failed + u"sidan omdirigerades för många gånger eller till en annan värd"_s;
    const auto fails = [](const char *row, const QList<Script> &scripts, const QString &outcome) {
        QTest::newRow(row) << scripts << outcome << QStringList();
    };
    const auto reads = [](const char *row, const Script &answer, const QStringList &names) {
        QTest::newRow(row) << QList<Script>{answer} << u"%1 personer online"_s.arg(names.size())
                           << names;
    };
    const QByteArray gzip = "Content-Encoding: gzip\r\n";
    const QByteArray length = "Content-Length: ";

    fails("byte-a-second trickle", {trickle(PageServer::ok(TrapPage))},
          failed + u"tidsgränsen överskreds"_s);
    const QByteArray cut = pageOf({link(""), link("Åsa")}).chopped(15) + link("Märta").chopped(10);
    fails("body cut in the middle of a name",
          {utf8(length + QByteArray::number(cut.size() + 200) + "\r\n", cut)},
          failed + u"svaret bröts av i förtid"_s);
    // Long enough that its first half unpacks to the trap names.
    QList<QByteArray> many{link(""), link("Mär")};
    for (int i = 0; i < 300; ++i)
        many << link("Gäst" + QByteArray::number(i * 7919 % 10007));
    const QByteArray packedTraps = gzipped(pageOf(many));
    fails("gzip cut short",
          {utf8(gzip + length + QByteArray::number(packedTraps.size()) + "\r\n",
                packedTraps.first(packedTraps.size() / 2))},
          failed + u"svaret bröts av i förtid"_s);
    const auto redirect = [](const QByteArray &to) {
        return PageServer::reply("HTTP/1.1 302 Found\r\nLocation: " + to +
                                 "\r\nContent-Length: 0\r\n\r\n");
    };
    fails("redirect loop", {redirect("/a"), redirect("/login/chat/users.asp")}, redirected);
    fails("redirect to another host",
          {redirect(userListUrl(m_otherHost.hostAndPort()).toEncoded())}, redirected);

    QByteArray chunked; // splitting names and UTF-8 sequences
    for (qsizetype at = 0; at < GoodPage.size(); at += 7)
        chunked += QByteArray::number(GoodPage.mid(at, 7).size(), 16) + "\r\n" +
                   GoodPage.mid(at, 7) + "\r\n";
    reads("chunked", utf8("Transfer-Encoding: chunked\r\n", chunked + "0\r\n\r\n"), GoodNames);
    reads("HTTP/1.0 ended by close", utf8({}, GoodPage, "1.0"), GoodNames);
    const QByteArray packed = gzipped(GoodPage);
    reads("gzip", utf8(gzip + length + QByteArray::number(packed.size()) + "\r\n", packed),
          GoodNames);
    const QByteArray nul(1, '\0');
    reads("NUL bytes in, around and as names",
          PageServer::reply(PageServer::ok(pageOf({link("Mär" + nul), nul + nul, link(nul), nul}))),
          {u"Mär"_s + QChar(0), QString(QChar(0))});
    // A bad byte becomes U+FFFD; dropped, "\xFF" would be the empty name row 0 matches.
    reads(
        "invalid UTF-8",
        PageServer::reply(PageServer::ok(pageOf({link("M\xE4r"), link("\xFF"), link("Åsa\xC3")}))),
        {u"M\uFFFDr"_s, u"\uFFFD"_s, u"Åsa\uFFFD"_s});
    QStringEncoder toCp1252("windows-1252");
    reads("unknown charset label, windows-1252 bytes",
          PageServer::reply(PageServer::ok(toCp1252.encode(QString::fromUtf8(GoodPage)),
                                           "text/html; charset=x-finns-inte")),
          GoodNames);
}

void TstHardening::hostileAnswerIsReadRightOrFailsWithoutAlerts()
{
    QFETCH(QList<Script>, scripts);
    QFETCH(QString, outcome);
    QFETCH(QStringList, names);
    auto turn = std::make_shared<qsizetype>(0);
    m_server.setResponder(
        [scripts, turn](const QByteArray &) { return scripts.at((*turn)++ % scripts.size()); });
    const int otherHostRequests = m_otherHost.requestCount();
    Window window(m_server.port());
    window.watchTrapsEverySecond();

    const qint64 took = window.tick();

    QVERIFY2(took < TimeoutMs + MarginMs, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QCOMPARE(window.outcome(), outcome);
    QCOMPARE(window.listed(), names);
    QCOMPARE(window.alerts(),
             names.contains(u"Märta"_s) ? QStringList{u"Märta"_s + Suffix} : QStringList());
    QCOMPARE(m_otherHost.requestCount(), otherHostRequests);
    // Watching goes on: the next tick comes within the second set, and reads a good page.
    const int served = m_server.requestCount();
    m_server.serve(PageServer::ok(GoodPage));
    window.alerts();
    QCOMPARE(window.get<QPushButton>(u"CmdKnapp"_s)->text(), u"&Stoppa programmet"_s);
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount() > served, 1000 + 600);
    QTRY_COMPARE_WITH_TIMEOUT(window.outcome(), u"4 personer online"_s, 1000);
    QCOMPARE(window.listed(), GoodNames);
    QCOMPARE(window.alerts(), QStringList{u"Märta"_s + Suffix});
}

void TstHardening::hugeRosterAndHugeNamesAreListedAndMatched()
{
    const QString huge = u"Björn-Åsa "_s.repeated(110'000).first(1024 * 1024);
    // Past a line edit's default 32,767 characters; a box lays out the MiB one too slowly.
    const QString longName = u"Märta-Göran "_s.repeated(5'000).first(50'000);
    QStringList names;
    for (int i = 1; i <= 100'000; ++i)
        names << u"Gäst%1"_s.arg(i, 6, 10, QChar(u'0'));
    names << huge << longName;
    const QByteArray page = ChatSite::userListPage(names);
    m_server.serve(PageServer::ok(page));
    Window window(m_server.port(), 16 * 1024 * 1024);
    window.watch(0, names.front(), {u"ChkLjud"_s});
    window.watch(1, longName, {u"chkPopup"_s});
    window.watch(2, longName.first(32767), {u"chkPopup"_s, u"chkPip"_s}); // must not match

    const qint64 took = window.tick();
    qInfo("100,000 names, one of 1 MiB: %lld bytes in %lld ms", qint64(page.size()), took);

    QVERIFY2(took < TimeoutMs + 10000, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QCOMPARE(window.outcome(), u"100002 personer online"_s);
    QVERIFY(window.listed() == names);
    QVERIFY(window.alerts() == QStringList({u"Ljud"_s, longName + Suffix}));
}

void TstHardening::hundredMegabytesAreRefusedWithoutGrowingTowardsThem()
{
    Window window(m_server.port(), 4 * 1024 * 1024);
    window.watchTrapsEverySecond();
    // A good poll first, so that what a first poll sets up once is not counted.
    m_server.serve(PageServer::ok(GoodPage));
    window.tick();
    // 100 MiB in chunks of 64 KiB, made only as fast as the client reads them.
    const QByteArray block = TrapPage.repeated(64 * 1024 / TrapPage.size() + 1).first(64 * 1024);
    m_server.serve({Script{
        {.bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Transfer-Encoding: chunked\r\n\r\n"},
        {.bytes = "10000\r\n" + block + "\r\n", .repeat = 1600},
        {.bytes = "0\r\n\r\n", .close = true},
    }});
    // Resets the peak (VmHWM) to the current size.
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    QVERIFY(clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1);
    clearRefs.close();
    const qint64 before = procStatusKiB("VmRSS");
    window.alerts();

    const qint64 took = window.tick();
    const qint64 growth = procStatusKiB("VmHWM") - before;
    qInfo("100 MB: peak memory grew by %lld KiB; the poll took %lld ms", growth, took);

    QVERIFY2(took < TimeoutMs + MarginMs, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    if (VINDRIK_MEMORY_FIGURES_REAL) // AddressSanitizer's figures say nothing of the program
        QVERIFY2(growth < 24 * 1024, qPrintable(u"peak memory grew by %1 KiB"_s.arg(growth)));
    QCOMPARE(window.outcome(), u"kunde inte nå chattsidan – sidan var för stor"_s);
    QCOMPARE(window.listed(), QStringList());
    QCOMPARE(window.alerts(), QStringList());
}

void TstHardening::swedishNamesSurviveNginxGzipChunks_data()
{
    QTest::addColumn<QByteArray>("charset");
    QTest::newRow("UTF-8") << QByteArray("utf-8");
    QTest::newRow("windows-1252") << QByteArray("windows-1252");
}

void TstHardening::swedishNamesSurviveNginxGzipChunks()
{
    QFETCH(QByteArray, charset);
    const QStringList names{u"Åsa"_s, u"Björn"_s, u"Märta"_s, u"Göran"_s, u"Šimon"_s};
    QTemporaryDir dir;
    const auto write = [&dir](const QString &path, const QByteArray &bytes) {
        QFile file(dir.filePath(path));
        return QDir(dir.path()).mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
               file.write(bytes) == bytes.size();
    };
    QVERIFY(write(u"login/chat/users.asp"_s, QStringEncoder(charset.constData())(QString::fromUtf8(
                                                 ChatSite::userListPage(names)))));
    QTcpServer free; // a free port, handed on
    QVERIFY(free.listen(QHostAddress::LocalHost));
    const quint16 port = free.serverPort();
    free.close();
    // In the foreground, writing only into the test's folder. Compressed, so
    // with no length known, sent in chunks.
    QVERIFY(write(u"nginx.conf"_s,
                  uR"(daemon off; master_process off; pid %1/nginx.pid; error_log %1/error.log;
events {} http { access_log off; client_body_temp_path %1/body; proxy_temp_path %1/proxy;
fastcgi_temp_path %1/f; uwsgi_temp_path %1/u; scgi_temp_path %1/s; types { text/html asp; }
gzip on; gzip_min_length 1; server { listen 127.0.0.1:%2; root %1; charset %3; } })"_s
                      .arg(dir.path(), QString::number(port), QString::fromLatin1(charset))
                      .toUtf8()));
    QProcess nginx;
    nginx.start(u"/usr/sbin/nginx"_s, {u"-p"_s, dir.path(), u"-c"_s, dir.filePath(u"nginx.conf"_s),
                                       u"-e"_s, dir.filePath(u"error.log"_s)});
    QVERIFY2(nginx.waitForStarted(5000), "nginx is missing: install the Debian package nginx");
    QTcpSocket probe; // Else this could pass against a plain, whole body.
    QTRY_VERIFY_WITH_TIMEOUT(
        (probe.connectToHost(QHostAddress::LocalHost, port), probe.waitForConnected(200)), 5000);
    probe.write("GET /login/chat/users.asp HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n\r\n");
    QByteArray head;
    while (!head.contains("\r\n\r\n") && probe.waitForReadyRead(2000))
        head += probe.readAll();
    head = head.toLower();
    QVERIFY2(head.contains("content-encoding: gzip") && head.contains("chunked") &&
                 head.contains("charset=" + charset),
             head.constData());
    Window window(port);
    window.watch(0, {}, {u"chkPopup"_s});
    window.watch(2, u"Märta"_s, {u"chkPopup"_s});
    window.watch(4, u"Šimon"_s, {u"chkPip"_s});
    window.watch(5, u"GÃ¶ran"_s, {u"chkPopup"_s}); // UTF-8 bytes read as windows-1252

    const qint64 took = window.tick();
    nginx.kill();
    nginx.waitForFinished();

    QVERIFY2(took < TimeoutMs + MarginMs, qPrintable(u"the poll took %1 ms"_s.arg(took)));
    QCOMPARE(window.outcome(), u"5 personer online"_s);
    QCOMPARE(window.listed(), names);
    QCOMPARE(window.alerts(), QStringList({u"Märta"_s + Suffix, u"Pip"_s}));
}

void TstHardening::twoThousandPollsWithAlertsDoNotGrowMemory()
{
    // Guests come and go, Åsa moves about, Göran drops in every other poll,
    // and every fiftieth poll the site has a bad moment.
    auto served = std::make_shared<int>(0);
    const auto rosterFor = [](int n) {
        QStringList names;
        for (int guest = 0; guest < n % 37; ++guest)
            names << u"Gäst%1-%2"_s.arg(n).arg(guest);
        names.insert(qMin<qsizetype>(n % 5, names.size()), u"Åsa"_s);
        names << u"Björn"_s << u"Märta"_s;
        if (n % 2)
            names.insert(names.size() / 2, u"Göran"_s);
        return n % 50 == 49 ? QStringList() : names;
    };
    m_server.setResponder([served, rosterFor](const QByteArray &) {
        const QStringList names = rosterFor((*served)++);
        return PageServer::reply(names.isEmpty() ? PageServer::status(503, "Service Unavailable")
                                                 : PageServer::ok(ChatSite::userListPage(names)));
    });
    Window window(m_server.port());
    const QString sound = soundFilePath(window.platform.programFolder());
    QVERIFY2(QFileInfo(sound).size() > 44, qPrintable(u"no sound file at "_s + sound));
    window.watch(0, u"Åsa"_s, {u"chkPopup"_s});
    window.watch(1, u"Björn"_s, {u"chkPip"_s});
    window.watch(2, u"Märta"_s, {u"ChkLjud"_s});
    window.watch(3, u"Göran"_s, {u"chkPopup"_s, u"chkPip"_s});
    window.get<QComboBox>(u"Combo1"_s)->setEditText(u"60"_s); // the test's ticks stand in

    qint64 settledKiB = 0;
    for (int poll = 0; poll < 2000; ++poll) {
        const QStringList roster = rosterFor(poll);
        window.tick();
        QTest::qWait(0); // back to the event loop, as after Timer1's tick
        QStringList expected;
        if (!roster.isEmpty())
            expected << u"Åsa"_s + Suffix << u"Pip"_s << u"Ljud"_s;
        if (roster.contains(u"Göran"_s))
            expected << u"Göran"_s + Suffix << u"Pip"_s;
        QCOMPARE(window.outcome(),
                 roster.isEmpty()
                     ? u"kunde inte nå chattsidan – servern svarade med HTTP-status 503"_s
                     : u"%1 personer online"_s.arg(roster.size()));
        QCOMPARE(window.listed(), roster);
        QStringList alerts = window.alerts();
        alerts.sort();
        expected.sort();
        QCOMPARE(alerts, expected);
        if (poll == 99)
            settledKiB = procStatusKiB("VmRSS");
    }
    const qint64 growth = procStatusKiB("VmRSS") - settledKiB;
    qInfo("VmRSS after poll 100: %lld KiB, after 2,000: %+lld KiB", settledKiB, growth);
    if (VINDRIK_MEMORY_FIGURES_REAL)
        QVERIFY2(growth < 4 * 1024, qPrintable(u"grew by %1 KiB"_s.arg(growth)));
}

QTEST_MAIN(TstHardening)
#include "tst_hardening.moc"
