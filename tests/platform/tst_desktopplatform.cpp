#include "desktopplatform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TstDesktopPlatform : public QObject
{
    Q_OBJECT
    QTemporaryDir files;

private Q_SLOTS:
    // The title is the alert's headline: the box must leave room for all of
    // it in a title bar's bold font, beside a window manager's buttons.
    void messageIsPlainWithOneOkNoIconAndRoomForItsTitle()
    {
        const QString title = u"Personen du söker har kommit in"_s;
        QString shown;
        QTimer finder; // reads the box, then closes it, so the test always ends
        connect(&finder, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
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
    void soundFileReturnsAtOnceAndHangsNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // empty = no file at all
        // 8 kHz, mono, 16-bit, 800 silent samples.
        const QByteArray wav =
            QByteArray::fromHex("524946466406000057415645666d74201000000001000100401f"
                                "0000803e0000020010006461746140060000") +
            QByteArray(1600, '\0');
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("text named .WAV") << "inte ljud\n"_ba;
        QTest::newRow("cut off in the header") << wav.first(20);
        QTest::newRow("cut off in the data") << wav.first(100);
        QTest::newRow("good") << wav; // plays if there is an audio device
    }
    void soundFileReturnsAtOnceAndHangsNothing()
    {
        QFETCH(QByteArray, bytes);
        // A hang ends the run at once, saying why, not as CTest's time-out a minute later.
        std::signal(SIGALRM, [](int) {
            static constexpr char why[] = "FAIL: playing sound files hung: a file Qt's sound "
                                          "loader got stuck on reached it\n";
            (void)::write(STDERR_FILENO, why, sizeof why - 1);
            std::_Exit(1);
        });
        ::alarm(10);
        const auto disarm = qScopeGuard([] { ::alarm(0); });
        QFile file(files.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".WAV"_s));
        QVERIFY(bytes.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(bytes) > 0));
        file.close();
        DesktopPlatform platform;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer clock;
            clock.start();
            platform.playSoundFile(file.fileName());
            QVERIFY2(clock.elapsed() < 1000, qPrintable(u"took %1 ms"_s.arg(clock.elapsed())));
            QTest::qWait(300); // loading goes on in the background; let it fail there
        }
        // A file the sound loader got stuck on used to hang the clean-up of
        // the next sound played: this would never return.
        DesktopPlatform().playSoundFile(file.fileName());
    }
    void beepNeverWaitsForTheSoundServer_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("closesWithinMs");
        // With nothing to wait for, the bell's thread must end, not be left behind.
        QTest::newRow("no sound server") << false << 1000;
        // libpulse would wait 30 s for this one.
        QTest::newRow("a server that never answers") << true << 3000;
    }
    void beepNeverWaitsForTheSoundServer()
    {
        QFETCH(bool, listening);
        QFETCH(int, closesWithinMs);
        // Offscreen, like Wayland, has no bell of its own: the desktop bell sounds.
        const QString socket = files.filePath(u"pulse"_s);
        QLocalServer server;
        QVERIFY(!listening || server.listen(socket));
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(socket));
        const auto restore = qScopeGuard([] { qunsetenv("PULSE_SERVER"); });
        QElapsedTimer clock;
        clock.start();
        auto platform = std::make_unique<DesktopPlatform>();
        for (int i = 0; i < 3; ++i)
            platform->beep();
        const qint64 rung = clock.elapsed();
        QTest::qWait(200); // the bell's thread is now connecting, or stuck doing so
        clock.restart();
        platform.reset();
        const qint64 closed = clock.elapsed();
        QVERIFY2(rung < 100, qPrintable(u"three beeps took %1 ms"_s.arg(rung)));
        QVERIFY2(closed < closesWithinMs, qPrintable(u"closing took %1 ms"_s.arg(closed)));
    }
    void programFolderIsExecutablesFolderNotWorkingFolder()
    {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(files.path()));
        const QString folder = DesktopPlatform().programFolder();
        QDir::setCurrent(before);
        QCOMPARE(QFileInfo(folder).canonicalFilePath(),
                 QFileInfo(QFileInfo(u"/proc/self/exe"_s).canonicalFilePath()).canonicalPath());
    }
};

QTEST_MAIN(TstDesktopPlatform)
#include "tst_desktopplatform.moc"
