#include "hardeningsupport.h"

#include "timer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace Hardening {

void CountingPlatform::beep()
{
    ++beeps;
    DesktopPlatform::beep();
}

void CountingPlatform::playSoundFile(const QString &path)
{
    ++sounds;
    lastSoundPath = path;
    DesktopPlatform::playSoundFile(path);
}

BoxDismisser::BoxDismisser()
{
    qApp->installEventFilter(this);
}

BoxDismisser::~BoxDismisser()
{
    qApp->removeEventFilter(this);
}

QStringList BoxDismisser::texts() const
{
    QStringList result;
    for (const Seen &box : seen)
        result << box.text;
    return result;
}

bool BoxDismisser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            seen.append({box->windowTitle(), box->text()});
            // From the box's own event loop, as a user's click would come.
            QTimer::singleShot(0, box, [box] { box->accept(); });
        }
    }
    return false;
}

Window::Window(const QUrl &pageUrl, DesktopPlatform::Limits limits)
    : platform(limits), form(std::make_unique<Form1>(platform, pageUrl))
{
    platform.setDialogParent(form.get());
    form->show();
    timer1 = form->findChild<Timer *>(u"Timer1"_s);
    status = form->findChild<QLabel *>(u"lblStatus"_s);
    list = form->findChild<QListWidget *>(u"List1"_s);
    button = form->findChild<QPushButton *>(u"CmdKnapp"_s);
    combo = form->findChild<QComboBox *>(u"Combo1"_s);
}

Window::~Window()
{
    form->close();
    form.reset();
}

QLineEdit *Window::nick(int row) const
{
    return form->findChild<QLineEdit *>(u"txtNick%1"_s.arg(row));
}

QCheckBox *Window::option(const char *name, int row) const
{
    return form->findChild<QCheckBox *>(QString::fromLatin1(name) + QString::number(row));
}

void Window::watch(int row, const QString &nickText, const QList<const char *> &options)
{
    nick(row)->setText(nickText);
    for (const char *name : options)
        option(name, row)->setChecked(true);
}

void Window::clickStartStop()
{
    button->click();
}

qint64 Window::tick()
{
    QElapsedTimer clock;
    clock.start();
    Q_EMIT timer1->ticked();
    return clock.elapsed();
}

QStringList listed(const QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

QString statusPattern(const QString &outcome)
{
    return u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: "_s + QRegularExpression::escape(outcome) +
           u'$';
}

QString failurePattern(const QString &reason)
{
    return statusPattern(u"kunde inte nå chattsidan – "_s + reason);
}

namespace {

QtMessageHandler passOn = nullptr;

void dropHeadlessNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg &&
        (message == u"This plugin does not support propagateSizeHints()"_s ||
         message == u"No audio device detected"_s ||
         message.startsWith(u"PulseAudioService: pa_context_connect() failed"_s)))
        return;
    if (passOn)
        passOn(type, context, message);
}

} // namespace

void quietHeadlessNoise()
{
    QtMessageHandler previous = qInstallMessageHandler(dropHeadlessNoise);
    if (previous != dropHeadlessNoise)
        passOn = previous;
}

qint64 procStatusKiB(const char *field)
{
    QFile file(u"/proc/self/status"_s);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

namespace {

quint32 crc32(QByteArrayView data)
{
    quint32 crc = 0xFFFFFFFF;
    for (char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

QByteArray gzipped(const QByteArray &body)
{
    // qCompress: a 4-byte size, then zlib (2-byte header, raw deflate, 4-byte
    // Adler-32). gzip wraps the same raw deflate in its own header and trailer.
    const QByteArray zlib = qCompress(body, 9);
    QByteArray member("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    member += zlib.sliced(6, zlib.size() - 10);
    char trailer[8];
    qToLittleEndian<quint32>(crc32(body), trailer);
    qToLittleEndian<quint32>(quint32(body.size()), trailer + 4);
    return member + QByteArray(trailer, 8);
}

QByteArray chunkedBody(const QByteArray &body, qsizetype chunkSize)
{
    QByteArray raw;
    for (qsizetype at = 0; at < body.size(); at += chunkSize) {
        const QByteArray part = body.mid(at, chunkSize);
        raw += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
    }
    return raw + "0\r\n\r\n";
}

QByteArray link(const QByteArray &name)
{
    return "<a href=\"#\" onclick=\"valj='x';\" >" + name + "</a><br>\n";
}

QByteArray pageOf(const QList<QByteArray> &links)
{
    QByteArray page = "<html><head><title>Inne i chatten</title></head><body>\n";
    for (const QByteArray &one : links)
        page += one;
    return page + "</body></html>\n";
}

} // namespace Hardening
