#include "chatsite.h"
#include "desktopplatform.h"
#include "form1.h"
#include "pageserver.h"
#include "timer.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TstForm1Desktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void realWindowPollsAlertsReportsAndClosesPromptly();
};

void TstForm1Desktop::realWindowPollsAlertsReportsAndClosesPromptly()
{
    PageServer server;
    QVERIFY(server.listen());
    server.serve(
        {PageServer::reply(PageServer::ok(ChatSite::userListPage({u"Bo"_s, u"Åsa"_s, u"Cia"_s}))),
         PageServer::reply(PageServer::status(404, "Not Found", "<html>borta</html>")),
         PageServer::Script{}});

    DesktopPlatform platform; // the real 10 s transfer limit
    Form1 form(platform, userListUrl(server.hostAndPort()));
    platform.setDialogParent(&form);
    form.show();
    form.findChild<QLineEdit *>(u"txtNick1"_s)->setText(u"Åsa"_s);
    form.findChild<QCheckBox *>(u"chkPopup1"_s)->setChecked(true);
    auto *timer1 = form.findChild<Timer *>(u"Timer1"_s);
    auto *list = form.findChild<QListWidget *>(u"List1"_s);
    auto *status = form.findChild<QLabel *>(u"lblStatus"_s);
    QStringList boxes; // title|text of each real message box, dismissed as soon as it is up
    QTimer dismisser;
    connect(&dismisser, &QTimer::timeout, &dismisser, [&boxes] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->windowTitle() + u'|' + box->text();
            box->accept();
        }
    });
    dismisser.start(20);

    Q_EMIT timer1->ticked();
    QCOMPARE(server.lastRequestLine(), "GET /login/chat/users.asp HTTP/1.1");
    QCOMPARE(list->count(), 3);
    QCOMPARE(boxes,
             QStringList{u"Personen du söker har kommit in|Åsa har kommit in på Vindriks chatt"_s});
    QVERIFY2(status->text().endsWith(u": 3 personer online"_s), qPrintable(status->text()));

    // A failure empties the list but must not read like an empty chat.
    Q_EMIT timer1->ticked();
    QCOMPARE(list->count(), 0);
    const QString failed = status->text();
    QVERIFY2(failed.endsWith(u": kunde inte nå chattsidan – servern svarade med HTTP-status 404"_s),
             qPrintable(failed));

    // The next fetch stalls; closing the window must end it at once.
    QTimer::singleShot(300, &form, [&form] { form.close(); });
    QElapsedTimer clock;
    clock.start();
    Q_EMIT timer1->ticked();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(u"poll took %1 ms"_s.arg(clock.elapsed())));
    QCOMPARE(server.requestCount(), 3);
    QCOMPARE(status->text(), failed);
    QVERIFY(!form.isVisible());
}

QTEST_MAIN(TstForm1Desktop)
#include "tst_form1_desktop.moc"
