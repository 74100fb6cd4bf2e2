// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

// Sounds an alert through the desktop platform on whatever Qt platform it is
// started on, and again for every line read on standard input, as later polls
// would; at the end of the input it runs on a moment so the sound can play
// out, and quits normally:
//   alertprobe pip
//   alertprobe ljud (Hej.WAV from the program's folder, as a poll finds it)
// Prints the platform's name first.

#include "desktopplatform.h"
#include "pollcycle.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    std::printf("%s\n", qPrintable(QGuiApplication::platformName()));
    std::fflush(stdout);
    DesktopPlatform platform;
    const bool pip = args.value(1) == u"pip";
    const auto alert = [&] {
        pip ? platform.beep() : platform.playSoundFile(soundFilePath(platform.programFolder()));
    };
    alert();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64];
        if (::read(STDIN_FILENO, line, sizeof line) > 0) {
            alert();
            return;
        }
        input.setEnabled(false);
        QTimer::singleShot(1500, &app, &QCoreApplication::quit);
    });
    QTimer::singleShot(60'000, &app, &QCoreApplication::quit); // however the input ends
    return QApplication::exec();
}
