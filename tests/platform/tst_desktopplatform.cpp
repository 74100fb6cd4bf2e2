#include "desktopplatform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

// What the test saw of the box while showMessage() waited for it.
struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QString labelText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QWidget *parent = nullptr;
};

// A short, silent PCM WAV: 8 kHz, mono, 16-bit.
QByteArray silentWav()
{
    constexpr quint32 samples = 800;
    constexpr quint32 dataBytes = samples * 2;
    QByteArray wav;
    auto put32 = [&wav](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        wav.append(b, 4);
    };
    auto put16 = [&wav](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        wav.append(b, 2);
    };
    wav += "RIFF";
    put32(36 + dataBytes);
    wav += "WAVEfmt ";
    put32(16);
    put16(1);        // PCM
    put16(1);        // mono
    put32(8000);     // samples a second
    put32(8000 * 2); // bytes a second
    put16(2);        // block align
    put16(16);       // bits a sample
    wav += "data";
    put32(dataBytes);
    wav += QByteArray(dataBytes, '\0');
    return wav;
}

} // namespace

class TstDesktopPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void messageIsModalPlainWithOneOkAndNoIcon_data();
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
    QFile wav(files.filePath(u"Hej.WAV"_s));
    QVERIFY(wav.open(QIODevice::WriteOnly));
    QVERIFY(wav.write(silentWav()) > 0);
}

void TstDesktopPlatform::cleanup()
{
    const QWidgetList open = QApplication::topLevelWidgets();
    for (QWidget *widget : open)
        QVERIFY2(!widget->isVisible(), qPrintable(widget->metaObject()->className()));
}

void TstDesktopPlatform::messageIsModalPlainWithOneOkAndNoIcon_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("withParent");

    QTest::newRow("alert for a Swedish name") << u"Åsa har kommit in på Vindriks chatt"_s
                                              << u"Personen du söker har kommit in"_s << false;
    QTest::newRow("name that looks like markup is shown as typed")
        << u"<b>Bo</b> har kommit in på Vindriks chatt"_s << u"Personen du söker har kommit in"_s
        << false;
    QTest::newRow("entity and line break stay literal")
        << u"Bo &amp; Åsa<br>kom"_s << u"<i>OBS!</i>"_s << false;
    QTest::newRow("centred on the window given") << u"Björn"_s << u"OBS!"_s << true;
}

void TstDesktopPlatform::messageIsModalPlainWithOneOkAndNoIcon()
{
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(bool, withParent);

    QWidget window;
    DesktopPlatform platform;
    if (withParent) {
        window.show();
        platform.setDialogParent(&window);
    }

    SeenBox box;
    QTimer finder;
    connect(&finder, &QTimer::timeout, this, [&] {
        auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!shown)
            return;
        finder.stop();
        box.seen = true;
        box.title = shown->windowTitle();
        box.text = shown->text();
        box.format = shown->textFormat();
        if (auto *label = shown->findChild<QLabel *>(u"qt_msgbox_label"_s)) {
            box.labelText = label->text();
            box.labelFormat = label->textFormat();
        }
        const QList<QAbstractButton *> buttons = shown->buttons();
        for (QAbstractButton *button : buttons)
            box.buttons << shown->standardButton(button);
        box.icon = shown->icon();
        box.parent = shown->parentWidget();
        if (buttons.isEmpty())
            shown->done(0);
        else
            buttons.constFirst()->click();
    });
    finder.start(20);
    // If the box is never found, the test must still end.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *stray = qobject_cast<QMessageBox *>(widget))
                stray->done(0);
    });
    guard.start(5000);

    platform.showMessage(text, title);

    QVERIFY2(box.seen, "showMessage returned without a modal box being shown");
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
    QCOMPARE(box.format, Qt::PlainText);
    QCOMPARE(box.labelText, text);
    QCOMPARE(box.labelFormat, Qt::PlainText);
    QCOMPARE(box.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.parent, withParent ? &window : nullptr);
}

void TstDesktopPlatform::soundFileReturnsAtOnceAndHangsNothing_data()
{
    QTest::addColumn<QString>("path");

    const QString dir = files.path();
    const QByteArray wav = silentWav();
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    };
    QDir(dir).mkdir(u"folder.WAV"_s);

    QTest::newRow("missing file") << dir + u"/finns-inte/Hej.WAV"_s;
    QTest::newRow("empty path") << QString();
    QTest::newRow("a folder, not a file") << dir + u"/folder.WAV"_s;
    QTest::newRow("text file named .WAV") << write(dir + u"/text.WAV"_s, "inte ljud\n");
    QTest::newRow("WAV cut off in its header") << write(dir + u"/short.WAV"_s, wav.first(20));
    QTest::newRow("WAV header promising more data than there is")
        << write(dir + u"/cut.WAV"_s, wav.first(100));
    // Plays if there is an audio device; the tests normally run without one.
    QTest::newRow("valid WAV") << dir + u"/Hej.WAV"_s;
}

void TstDesktopPlatform::soundFileReturnsAtOnceAndHangsNothing()
{
    QFETCH(QString, path);

    {
        DesktopPlatform platform;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer clock;
            clock.start();
            platform.playSoundFile(path);
            QVERIFY2(
                clock.elapsed() < 1000,
                qPrintable(u"returned after %1 ms in round %2"_s.arg(clock.elapsed()).arg(round)));
            // Loading and playing go on in the background; let them fail there.
            QTest::qWait(300);
        }
    }
    // A file the sound loader got stuck on used to hang the clean-up of the
    // next sound played: this would never return.
    {
        DesktopPlatform later;
        later.playSoundFile(files.filePath(u"Hej.WAV"_s));
        QTest::qWait(100);
    }
}

void TstDesktopPlatform::programFolderIsExecutablesFolderNotWorkingFolder()
{
    const QFileInfo exe(u"/proc/self/exe"_s);
    if (!exe.exists())
        QSKIP("needs /proc/self/exe to know the executable independently");
    const QString expected = QFileInfo(exe.canonicalFilePath()).canonicalPath();

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(files.path()));
    const QString folder = DesktopPlatform().programFolder();
    QDir::setCurrent(before);

    QCOMPARE(QFileInfo(QDir::fromNativeSeparators(folder)).canonicalFilePath(), expected);
}

QTEST_MAIN(TstDesktopPlatform)
#include "tst_desktopplatform.moc"
