#include "desktopplatform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// A short, silent PCM WAV: 8 kHz, mono, 16-bit, 800 samples.
const QByteArray SilentWav = QByteArray::fromHex("524946466406000057415645666d7420100000000100"
                                                 "0100401f0000803e0000020010006461746140060000") +
                             QByteArray(1600, '\0');

class TstDesktopPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();

    void messageIsModalPlainWithOneOkAndNoIcon();
    void soundFileReturnsAtOnceAndHangsNothing_data();
    void soundFileReturnsAtOnceAndHangsNothing();
    void programFolderIsExecutablesFolderNotWorkingFolder();

private:
    QTemporaryDir files;
};

void TstDesktopPlatform::initTestCase()
{
    QVERIFY(files.isValid());
    const auto write = [this](const QString &name, const QByteArray &bytes) {
        QFile file(files.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write(u"Hej.WAV"_s, SilentWav) && write(u"text.WAV"_s, "inte ljud\n") &&
            write(u"short.WAV"_s, SilentWav.first(20)) &&
            write(u"cut.WAV"_s, SilentWav.first(100)));
}

void TstDesktopPlatform::messageIsModalPlainWithOneOkAndNoIcon()
{
    const QString text = u"<b>Åsa</b> &amp; Bo<br>har kommit in på Vindriks chatt"_s;
    const QString title = u"<i>Personen du söker har kommit in</i>"_s;

    QWidget window;
    window.show();
    DesktopPlatform platform;
    platform.setDialogParent(&window);

    // Whatever box shows is read, then closed, so the test always ends.
    QMessageBox *seen = nullptr;
    QTimer finder;
    connect(&finder, &QTimer::timeout, this, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible() || seen)
                continue;
            seen = box;
            const auto close = qScopeGuard([box] { box->done(0); });
            QVERIFY(box->isModal());
            QCOMPARE(box->windowTitle(), title);
            QCOMPARE(box->text(), text);
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QCOMPARE(box->parentWidget(), &window);
        }
    });
    finder.start(20);

    platform.showMessage(text, title);
    QVERIFY2(seen, "showMessage returned without a box being shown");
}

void TstDesktopPlatform::soundFileReturnsAtOnceAndHangsNothing_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("missing file") << u"finns-inte/Hej.WAV"_s;
    QTest::newRow("text file named .WAV") << u"text.WAV"_s;
    QTest::newRow("WAV cut off in its header") << u"short.WAV"_s;
    QTest::newRow("WAV header promising more data than there is") << u"cut.WAV"_s;
    // Plays if there is an audio device; the tests normally run without one.
    QTest::newRow("valid WAV") << u"Hej.WAV"_s;
}

void TstDesktopPlatform::soundFileReturnsAtOnceAndHangsNothing()
{
    QFETCH(QString, name);

    {
        DesktopPlatform platform;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer clock;
            clock.start();
            platform.playSoundFile(files.filePath(name));
            QVERIFY2(
                clock.elapsed() < 1000,
                qPrintable(u"returned after %1 ms in round %2"_s.arg(clock.elapsed()).arg(round)));
            // Loading and playing go on in the background; let them fail there.
            QTest::qWait(300);
        }
    }
    // A file the sound loader got stuck on used to hang the clean-up of the
    // next sound played: this would never return.
    DesktopPlatform later;
    later.playSoundFile(files.filePath(u"Hej.WAV"_s));
    QTest::qWait(100);
}

void TstDesktopPlatform::programFolderIsExecutablesFolderNotWorkingFolder()
{
    const QString expected = QFileInfo(u"/proc/self/exe"_s).canonicalFilePath();
    QVERIFY2(!expected.isEmpty(), "needs /proc/self/exe to know the executable independently");

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(files.path()));
    const QString folder = DesktopPlatform().programFolder();
    QDir::setCurrent(before);

    QCOMPARE(QFileInfo(QDir::fromNativeSeparators(folder)).canonicalFilePath(),
             QFileInfo(expected).canonicalPath());
}

QTEST_MAIN(TstDesktopPlatform)
#include "tst_desktopplatform.moc"
