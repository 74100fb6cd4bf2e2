#pragma once

#include "desktopplatform.h"
#include "form1.h"
#include "httptestserver.h"
#include "timer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

#include <memory>

namespace Hardening {

inline const QString Suffix = QStringLiteral(" har kommit in på Vindriks chatt");

// The real platform, counting the alerts that leave no trace to look at.
class CountingPlatform : public DesktopPlatform
{
public:
    using DesktopPlatform::DesktopPlatform;

    void beep() override
    {
        ++beeps;
        DesktopPlatform::beep();
    }
    void playSoundFile(const QString &path) override
    {
        ++sounds;
        DesktopPlatform::playSoundFile(path);
    }

    int beeps = 0;
    int sounds = 0;
};

// Answers every real message box the moment it shows, and remembers its text.
class BoxDismisser : public QObject
{
public:
    BoxDismisser() { QCoreApplication::instance()->installEventFilter(this); }
    ~BoxDismisser() override { QCoreApplication::instance()->removeEventFilter(this); }

    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The real window on the real platform, shown, with its controls at hand.
struct Window {
    explicit Window(const QUrl &pageUrl, DesktopPlatform::Limits limits);
    ~Window() { form->close(); }

    // Ticks the options given ("chkPopup", "chkPip", "ChkLjud") of a row.
    void watch(int row, const QString &nick, const QList<const char *> &options);
    // Watches what only a wrongly read page lists (the empty name, "Mär",
    // "Märta"), polls every second, and switches watching on.
    void watchTraps();
    // Emits one tick of Timer1 and returns how long the poll took, in ms.
    qint64 tick();
    // The status line after "Senaste kontroll hh:mm:ss: ", or all of it.
    QString outcome() const;
    QStringList listed() const;

    CountingPlatform platform;
    std::unique_ptr<Form1> form;
    Timer *timer1 = nullptr;
    QLabel *status = nullptr;
    QListWidget *list = nullptr;
    QPushButton *button = nullptr;
    QComboBox *combo = nullptr;
};

// After a poll that went wrong: watching is still on, the next tick comes
// within the second set, and a good page is read, alerting for "Märta" only.
void expectWatchingGoesOn(Window &window, HttpTestServer &server, BoxDismisser &boxes);

// Drops the warnings a headless machine gives on every message box and
// sound, which would bury a long run's own output.
void quietHeadlessNoise();

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); 0 if missing.
qint64 procStatusKiB(const char *field);

// Under AddressSanitizer memory growth says nothing about the program.
inline constexpr bool MemoryFiguresAreReal = VINDRIK_MEMORY_FIGURES_REAL;

// A gzip member honestly made: header, raw deflate, CRC-32, size.
QByteArray gzipped(const QByteArray &body);
QByteArray chunkedBody(const QByteArray &body, qsizetype chunkSize);

// One user-list link: what the chat's page holds for each name.
QByteArray link(const QByteArray &name);
QByteArray pageOf(const QList<QByteArray> &links);
inline const QByteArray GoodPage =
    pageOf({link("Åsa"), link("Björn"), link("Märta"), link("Göran")});
inline const QStringList GoodNames = QStringLiteral("Åsa Björn Märta Göran").split(u' ');
// Lists what only a wrongly read page should: every trap matches.
inline const QByteArray TrapPage = pageOf({link(""), link("Mär"), link("Märta")});

} // namespace Hardening
