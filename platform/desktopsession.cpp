// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#include "desktopsession.h"

#include <QByteArrayView>
#include <QGuiApplication>
#include <QProcessEnvironment>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <memory>

using namespace Qt::StringLiterals;

bool DesktopSession::isWayland(const QProcessEnvironment &env)
{
    const QString type = env.value(u"XDG_SESSION_TYPE"_s);
    return type.isEmpty() ? !env.value(u"WAYLAND_DISPLAY"_s).isEmpty() : type == u"wayland";
}

bool DesktopSession::prefersX11(int argc, const char *const *argv, const QProcessEnvironment &env,
                                bool (*xServerReachable)())
{
    if (!env.value(u"QT_QPA_PLATFORM"_s).isEmpty())
        return false;
    // Qt reads -platform and --platform alike.
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if (arg == "-platform" || arg == "--platform")
            return false;
    }
    return isWayland(env) && !env.value(u"DISPLAY"_s).isEmpty() && xServerReachable();
}

bool DesktopSession::xServerReachable()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection); // also frees a connection that failed
    return reached;
}

void DesktopSession::nameWindowClass(QWidget &window)
{
    // Offscreen answers for X11 too, with no connection.
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = xcb_window_t(window.winId());
    // Qt's instance name stays: the user may have chosen it (-name, RESOURCE_NAME).
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> now(
        xcb_get_property_reply(
            connection,
            xcb_get_property(connection, 0, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
            nullptr),
        &free);
    QByteArray instance =
        now ? QByteArray(static_cast<const char *>(xcb_get_property_value(now.get())),
                         xcb_get_property_value_length(now.get()))
            : QByteArray();
    if (const qsizetype end = instance.indexOf('\0'); end >= 0)
        instance.truncate(end);
    const QByteArray entry = QGuiApplication::desktopFileName().toLatin1();
    if (instance.isEmpty())
        instance = entry;
    const QByteArray wmClass = instance + '\0' + entry + '\0';
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                        8, uint32_t(wmClass.size()), wmClass.constData());
    xcb_flush(connection);
}
