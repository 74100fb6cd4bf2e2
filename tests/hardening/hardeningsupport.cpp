#include "hardeningsupport.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace Hardening {

bool BoxDismisser::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (box && event->type() == QEvent::Show) {
        texts << box->text();
        // From the box's own event loop, as a user's click would come.
        QTimer::singleShot(0, box, [box] { box->accept(); });
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

void Window::watch(int row, const QString &nick, const QList<const char *> &options)
{
    form->findChild<QLineEdit *>(u"txtNick%1"_s.arg(row))->setText(nick);
    for (const char *name : options)
        form->findChild<QCheckBox *>(QString::fromLatin1(name) + QString::number(row))
            ->setChecked(true);
}

void Window::watchTraps()
{
    watch(0, QString(), {"chkPopup", "chkPip"});
    watch(1, u"Mär"_s, {"chkPopup", "ChkLjud"});
    watch(2, u"Märta"_s, {"chkPopup"});
    combo->setEditText(u"1"_s);
    button->click();
}

qint64 Window::tick()
{
    QElapsedTimer clock;
    clock.start();
    Q_EMIT timer1->ticked();
    return clock.elapsed();
}

QString Window::outcome() const
{
    static const QRegularExpression line(u"^Senaste kontroll \\d\\d:\\d\\d:\\d\\d: (.*)$"_s);
    const QRegularExpressionMatch match = line.match(status->text());
    return match.hasMatch() ? match.captured(1) : status->text();
}

QStringList Window::listed() const
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

void expectWatchingGoesOn(Window &window, HttpTestServer &server, BoxDismisser &boxes)
{
    QCOMPARE(window.button->text(), u"&Stoppa programmet"_s);
    QCOMPARE(window.timer1->interval(), 1000);

    const qsizetype served = server.requests().size();
    server.setResponder(
        [](const QByteArray &) { return HttpTestServer::Response{HttpTestServer::ok(GoodPage)}; });
    boxes.texts.clear();
    window.platform.beeps = window.platform.sounds = 0;
    // The next tick falls due at most one interval after the poll ended.
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().size() > served, 1000 + 600);
    QTRY_COMPARE_WITH_TIMEOUT(window.outcome(), u"4 personer online"_s, 1000);
    QCOMPARE(window.listed(), GoodNames);
    QCOMPARE(boxes.texts, QStringList{u"Märta"_s + Suffix});
    QCOMPARE(window.platform.beeps + window.platform.sounds, 0);
}

void quietHeadlessNoise()
{
    static const QtMessageHandler passOn = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (type == QtWarningMsg &&
                (message == u"This plugin does not support propagateSizeHints()"_s ||
                 message == u"No audio device detected"_s ||
                 message.startsWith(u"PulseAudioService: pa_context_connect() failed"_s)))
                return;
            if (passOn)
                passOn(type, context, message);
        });
}

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
    quint32 crc = 0xFFFFFFFF;
    for (char c : body) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    // qCompress: a 4-byte size, then zlib (2-byte header, raw deflate, 4-byte
    // Adler-32). gzip wraps the same raw deflate in its own header and trailer.
    const QByteArray zlib = qCompress(body, 9);
    QByteArray member("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    member += zlib.sliced(6, zlib.size() - 10);
    char trailer[8];
    qToLittleEndian<quint32>(~crc, trailer);
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
    return "<html><head><title>Inne i chatten</title></head><body>\n" + links.join() +
           "</body></html>\n";
}

} // namespace Hardening
