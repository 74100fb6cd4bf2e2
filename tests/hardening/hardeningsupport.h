#pragma once

#include "desktopplatform.h"
#include "form1.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class Timer;

namespace Hardening {

// The real desktop platform; only counts the alerts that leave no trace a
// test could see (the beep, the sound), then does them for real.
class CountingPlatform : public DesktopPlatform
{
public:
    using DesktopPlatform::DesktopPlatform;

    void beep() override;
    void playSoundFile(const QString &path) override;

    int beeps = 0;
    int sounds = 0;
    QString lastSoundPath;
};

// Answers every real message box the moment it shows, and remembers its title
// and text. Installed on the application for as long as it lives.
class BoxDismisser : public QObject
{
public:
    BoxDismisser();
    ~BoxDismisser() override;

    struct Seen {
        QString title;
        QString text;
    };
    QList<Seen> seen;
    QStringList texts() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The real window on the real platform, shown, with its controls at hand.
struct Window {
    explicit Window(const QUrl &pageUrl, DesktopPlatform::Limits limits);
    ~Window();

    QLineEdit *nick(int row) const;
    QCheckBox *option(const char *name, int row) const;
    // Ticks the options given ("chkPopup", "chkPip", "ChkLjud") of a row.
    void watch(int row, const QString &nick, const QList<const char *> &options);
    // Clicks CmdKnapp, as the user does to switch watching on or off.
    void clickStartStop();
    // Emits one tick of Timer1 and returns how long the poll took, in ms.
    qint64 tick();

    CountingPlatform platform;
    std::unique_ptr<Form1> form;
    Timer *timer1 = nullptr;
    QLabel *status = nullptr;
    QListWidget *list = nullptr;
    QPushButton *button = nullptr;
    QComboBox *combo = nullptr;
};

QStringList listed(const QListWidget *list);

// "Senaste kontroll 21:04:05: " followed by exactly the outcome given.
QString statusPattern(const QString &outcome);
QString failurePattern(const QString &reason);

// Drops what a headless machine says on every message box and sound (the
// offscreen plugin's size hints, no audio device), which would otherwise
// bury a long run's own output; everything else goes through.
void quietHeadlessNoise();

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 if missing.
qint64 procStatusKiB(const char *field);

// False under AddressSanitizer: its quarantine keeps freed blocks and its red
// zones pad every one, so memory growth measured there says nothing about the
// program. The ordinary build checks those figures.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool MemoryFiguresAreReal = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool MemoryFiguresAreReal = false;
#else
inline constexpr bool MemoryFiguresAreReal = true;
#endif
#else
inline constexpr bool MemoryFiguresAreReal = true;
#endif

// A gzip member honestly made: header, raw deflate, CRC-32, size.
QByteArray gzipped(const QByteArray &body);
QByteArray chunkedBody(const QByteArray &body, qsizetype chunkSize);

// One user-list link: what the chat's page holds for each name.
QByteArray link(const QByteArray &name);
QByteArray pageOf(const QList<QByteArray> &links);

} // namespace Hardening
