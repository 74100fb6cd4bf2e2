// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "caretrest.h"
#include "desktopplatform.h"
#include "desktopsession.h"
#include "form1.h"
#include "pollcycle.h"

#include <QApplication>
#include <QIcon>
#include <QProcessEnvironment>

int main(int argc, char *argv[])
{
    // GNOME and Plasma give the keyboard to every window a Wayland client
    // shows; through Xwayland the alert can leave it with the user.
    if (DesktopSession::prefersX11(argc, argv, QProcessEnvironment::systemEnvironment(),
                                   &DesktopSession::xServerReachable))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vindriks Chatt sökning"));
    // Pairs the window with its menu entry and icon once installed.
    QApplication::setDesktopFileName(QStringLiteral("vindrik-chatt"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vindrik-chatt")));

    CaretRest caretRest;
    DesktopPlatform platform;
    Form1 form(platform, userListUrl(QStringLiteral(VINDRIK_CHAT_HOST)));
    platform.setDialogParent(&form);
    DesktopSession::nameWindowClass(form);
    form.show();
    return app.exec();
}
