#include "desktopplatform.h"
#include "form1.h"
#include "httptestserver.h"
#include "timer.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Dismisses every real message box as soon as it is up, and remembers it.
class BoxDismisser : public QObject
{
public:
    struct Seen {
        QString title;
        QString text;
    };

    BoxDismisser()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.append({box->windowTitle(), box->text()});
            box->accept();
        });
        m_timer.start(20);
    }

    QList<Seen> seen;

private:
    QTimer m_timer;
};

QRegularExpression statusLine(const QString &outcome)
{
    return QRegularExpression(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s +
                              QRegularExpression::escape(outcome) + u'$');
}

} // namespace

class TstForm1Desktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void pollThroughRealNetworkListsAlertsAndReports();
    void closingWhileFetchStallsEndsPollPromptly();
};

void TstForm1Desktop::cleanup()
{
    QStringList open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            open << QString::fromLatin1(widget->metaObject()->className());
    }
    QVERIFY2(open.isEmpty(), qPrintable(open.join(u", ")));
}

void TstForm1Desktop::pollThroughRealNetworkListsAlertsAndReports()
{
    HttpTestServer server;
    QVERIFY(server.listen());
    server.enqueue(HttpTestServer::ok(HttpTestServer::userListPage({u"Bo"_s, u"Åsa"_s, u"Cia"_s})));
    server.enqueue(HttpTestServer::status(404, "Not Found", "<html>borta</html>"));

    DesktopPlatform platform;
    Form1 form(platform, userListUrl(server.hostAndPort()));
    platform.setDialogParent(&form);
    form.show();
    form.findChild<QLineEdit *>(u"txtNick1"_s)->setText(u"Åsa"_s);
    form.findChild<QCheckBox *>(u"chkPopup1"_s)->setChecked(true);
    auto *timer1 = form.findChild<Timer *>(u"Timer1"_s);
    auto *list = form.findChild<QListWidget *>(u"List1"_s);
    auto *status = form.findChild<QLabel *>(u"lblStatus"_s);
    QVERIFY(timer1 && list && status);
    BoxDismisser dismisser;

    Q_EMIT timer1->ticked();

    QCOMPARE(server.requests(), QList<QByteArray>{"GET /login/chat/users.asp HTTP/1.1"});
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), u"Bo"_s);
    QCOMPARE(list->item(1)->text(), u"Åsa"_s);
    QCOMPARE(list->item(2)->text(), u"Cia"_s);
    QTRY_COMPARE(list->currentRow(), 2); // shown once the event loop runs
    QCOMPARE(dismisser.seen.size(), 1);
    QCOMPARE(dismisser.seen[0].title, u"Personen du söker har kommit in"_s);
    QCOMPARE(dismisser.seen[0].text, u"Åsa har kommit in på Vindriks chatt"_s);
    QVERIFY2(status->text().contains(statusLine(u"3 personer online"_s)),
             qPrintable(status->text()));

    Q_EMIT timer1->ticked();

    QCOMPARE(list->count(), 0);
    QCOMPARE(dismisser.seen.size(), 1);
    QVERIFY2(status->text().contains(
                 statusLine(u"kunde inte nå chattsidan – servern svarade med HTTP-status 404"_s)),
             qPrintable(status->text()));
}

void TstForm1Desktop::closingWhileFetchStallsEndsPollPromptly()
{
    HttpTestServer server;
    QVERIFY(server.listen());
    HttpTestServer::Response stall;
    stall.mode = HttpTestServer::Response::Mode::Stall;
    server.enqueue(stall);

    DesktopPlatform platform; // the real 10 s transfer limit
    Form1 form(platform, userListUrl(server.hostAndPort()));
    platform.setDialogParent(&form);
    form.show();
    // Would alert if the poll went on to list anyone.
    form.findChild<QCheckBox *>(u"chkPopup0"_s)->setChecked(true);
    auto *timer1 = form.findChild<Timer *>(u"Timer1"_s);
    auto *status = form.findChild<QLabel *>(u"lblStatus"_s);
    QVERIFY(timer1 && status);
    BoxDismisser dismisser;
    QTimer::singleShot(300, &form, [&form] { form.close(); });

    QElapsedTimer clock;
    clock.start();
    Q_EMIT timer1->ticked();
    const qint64 took = clock.elapsed();

    QVERIFY2(took < 3000, qPrintable(u"poll took %1 ms after the close"_s.arg(took)));
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(!form.isVisible());
    QVERIFY(dismisser.seen.isEmpty());
    QVERIFY(status->text().isEmpty());

    Q_EMIT timer1->ticked();
    QTest::qWait(100);
    QCOMPARE(server.requests().size(), 1);
}

QTEST_MAIN(TstForm1Desktop)
#include "tst_form1_desktop.moc"
