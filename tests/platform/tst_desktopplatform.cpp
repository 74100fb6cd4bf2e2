// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// The desktop platform: the windowing platform it asks for; a fetch cancelled,
// quit or left behind by its platform; the message box, the sound file and
// the bell's thread.
#include "desktopplatform.h"
#include "desktopsession.h"
#include "pageserver.h"
#include "pollcycle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using Error = FetchResult::Error;
using Script = PageServer::Script;

class TstDesktopPlatform : public QObject
{
    Q_OBJECT
    PageServer server;
    QTemporaryDir files;

    QUrl pageUrl() const { return userListUrl(server.hostAndPort()); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(server.listen()); }
    void cancelQuitOrGoneEndsAStalledFetchAtOnce_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"cancel", "quit", "platform destroyed"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void cancelQuitOrGoneEndsAStalledFetchAtOnce()
    {
        QFETCH(QString, how);
        server.serve({Script{}, PageServer::reply(PageServer::ok("hej"))});
        auto platform = std::make_unique<DesktopPlatform>();
        FetchResult result;
        QElapsedTimer clock;
        // The fetch runs inside the application's own loop, as a poll does.
        QTimer::singleShot(0, this, [&] {
            clock.start();
            result = platform->fetchPage(pageUrl());
            QCoreApplication::quit();
        });
        QTimer::singleShot(300, this, [&] {
            if (how == u"cancel")
                platform->cancelFetch();
            else if (how == u"quit")
                QCoreApplication::quit();
            else
                platform.reset(); // from a slot the fetch's own loop runs
        });
        QApplication::exec();
        QCOMPARE(result.error, Error::Cancelled);
        QVERIFY2(clock.elapsed() < 2000, qPrintable(u"took %1 ms"_s.arg(clock.elapsed())));
        if (!platform)
            platform = std::make_unique<DesktopPlatform>();
        QCOMPARE(platform->fetchPage(pageUrl()).text, u"hej"_s); // and the next fetch works
    }
    // Plain, one OK, no icon, and room for the title (the alert's headline) in
    // a title bar's bold font beside a window manager's buttons. How it stands
    // to the window and the keyboard only a real window manager can show: the
    // whole-program test checks that.
    void messageBoxIsPlainWithOneOkNoIconAndRoomForItsTitle()
    {
        const QString title = u"Personen du söker har kommit in"_s;
        QString shown;
        QTimer finder; // reads the box, then closes it, so the test always ends
        connect(&finder, &QTimer::timeout, this, [&] {
            QMessageBox *box = nullptr;
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (auto *found = qobject_cast<QMessageBox *>(widget); found && found->isVisible())
                    box = found;
            }
            if (!box)
                return;
            finder.stop();
            QFont bold = box->font();
            bold.setBold(true);
            const int room = QFontMetrics(bold).horizontalAdvance(title) +
                             3 * box->style()->pixelMetric(QStyle::PM_TitleBarHeight);
            shown =
                QStringList{box->windowTitle(),
                            box->text(),
                            box->textFormat() == Qt::PlainText ? u"plain"_s : u"markup"_s,
                            box->buttons().size() == 1 && box->standardButtons() == QMessageBox::Ok
                                ? u"OK only"_s
                                : u"other buttons"_s,
                            box->icon() == QMessageBox::NoIcon ? u"no icon"_s : u"icon"_s,
                            box->width() >= room ? u"room for the title"_s
                                                 : u"%1 px"_s.arg(box->width())}
                    .join(u'|');
            box->done(0);
        });
        finder.start(20);
        DesktopPlatform().showMessage(u"<b>Bo</b> &amp;"_s, title);
        QCOMPARE(shown, title + u"|<b>Bo</b> &amp;|plain|OK only|no icon|room for the title"_s);
    }
    // Given before QApplication exists; a window on X11 leaves the keyboard
    // where the user types. What the user chose, Qt is left to.
    void runsOnX11InAWaylandSessionWithAnXServer_data()
    {
        QTest::addColumn<QString>("env");     // NAME=value, apart by spaces
        QTest::addColumn<QByteArray>("args"); // after the program's name
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<bool>("x11");
        const QString gnome = u"XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=w DISPLAY=:0"_s;
        const QByteArray none;
        QTest::newRow("GNOME or Plasma with Xwayland") << gnome << none << true << true;
        QTest::newRow("no session type")
            << u"WAYLAND_DISPLAY=w DISPLAY=:0"_s << none << true << true;
        QTest::newRow("the X server does not answer") << gnome << none << false << false;
        QTest::newRow("an X11 session")
            << u"XDG_SESSION_TYPE=x11 WAYLAND_DISPLAY=w DISPLAY=:0"_s << none << true << false;
        QTest::newRow("QT_QPA_PLATFORM chosen")
            << gnome + u" QT_QPA_PLATFORM=xcb"_s << none << true << false;
        QTest::newRow("-platform chosen") << gnome << "-platform wayland"_ba << true << false;
        QTest::newRow("--platform chosen, after another argument")
            << gnome << "-name x --platform wayland"_ba << true << false;
    }
    void runsOnX11InAWaylandSessionWithAnXServer()
    {
        QFETCH(QString, env);
        QFETCH(QByteArray, args);
        QFETCH(bool, reachable);
        QFETCH(bool, x11);
        QProcessEnvironment environment;
        for (const QString &variable : env.split(u' '))
            environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        const QByteArrayList words = ("Project1 " + args).trimmed().split(' ');
        QList<const char *> argv;
        for (const QByteArray &word : words)
            argv << word.constData();
        const auto answers = reachable ? +[] { return true; } : +[] { return false; };
        QCOMPARE(
            DesktopSession::prefersX11(int(argv.size()), argv.constData(), environment, answers),
            x11);
    }
    void soundFileReturnsAtOnceAndHangsNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        // 8 kHz, mono, 16-bit, 800 silent samples.
        const QByteArray wav =
            QByteArray::fromHex("524946466406000057415645666d74201000000001000100401f"
                                "0000803e0000020010006461746140060000") +
            QByteArray(1600, '\0');
        QTest::newRow("cut off in the header") << wav.first(20);
        QTest::newRow("cut off in the data") << wav.first(100);
        QTest::newRow("good") << wav; // plays if there is an audio device
    }
    void soundFileReturnsAtOnceAndHangsNothing()
    {
        QFETCH(QByteArray, bytes);
        QFile file(files.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".WAV"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) > 0);
        file.close();
        DesktopPlatform platform;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer clock;
            clock.start();
            platform.playSoundFile(file.fileName());
            QVERIFY2(clock.elapsed() < 1000, qPrintable(u"took %1 ms"_s.arg(clock.elapsed())));
            QTest::qWait(300); // loading goes on in the background; let it fail there
        }
        // A file Qt's sound loader got stuck on used to hang the clean-up of
        // the next sound played: this would never return.
        DesktopPlatform().playSoundFile(file.fileName());
    }
    // Offscreen, like Wayland, has no bell of its own: the desktop bell sounds,
    // from a thread of its own. libpulse would wait 30 s for a sound server
    // that never answers; neither the beeps nor the closing may.
    void beepNeverWaitsForTheSoundServer()
    {
        const QString socket = files.filePath(u"pulse"_s);
        QLocalServer soundServer;
        QVERIFY(soundServer.listen(socket));
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
        const auto restore = qScopeGuard([] { qunsetenv("PULSE_SERVER"); });
        QElapsedTimer clock;
        clock.start();
        auto platform = std::make_unique<DesktopPlatform>();
        for (int i = 0; i < 3; ++i)
            platform->beep();
        const qint64 rung = clock.elapsed();
        QTest::qWait(200); // the bell's thread is now stuck connecting
        clock.restart();
        platform.reset();
        const qint64 closed = clock.elapsed();
        QVERIFY2(rung < 100, qPrintable(u"three beeps took %1 ms"_s.arg(rung)));
        QVERIFY2(closed < 3000, qPrintable(u"closing took %1 ms"_s.arg(closed)));
    }
};

QTEST_MAIN(TstDesktopPlatform)
#include "tst_desktopplatform.moc"
