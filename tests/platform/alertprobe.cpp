// Sounds one alert through the desktop platform on whatever Qt platform it is
// started on, then runs on for a while as the program would, so the sound
// can play out, and quits normally:
//   alertprobe pip
//   alertprobe ljud FILE
// Prints the platform's name first.

#include "desktopplatform.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    std::printf("%s\n", qPrintable(QGuiApplication::platformName()));
    DesktopPlatform platform;
    if (args.size() == 2 && args[1] == u"pip") {
        platform.beep();
    } else if (args.size() == 3 && args[1] == u"ljud") {
        platform.playSoundFile(args[2]);
    } else {
        std::fprintf(stderr, "usage: alertprobe pip | alertprobe ljud FILE\n");
        return 2;
    }
    std::fflush(stdout);
    QTimer::singleShot(4000, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
