#include "caretrest.h"
#include "desktopplatform.h"
#include "form1.h"
#include "pollcycle.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vindriks Chatt sökning"));
    // Pairs the window with its menu entry and icon once installed.
    QApplication::setDesktopFileName(QStringLiteral("vindrik-chatt"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vindrik-chatt")));

    CaretRest caretRest;
    DesktopPlatform platform;
    Form1 form(platform, userListUrl(QStringLiteral(VINDRIK_CHAT_HOST)));
    platform.setDialogParent(&form);
    form.show();
    return app.exec();
}
