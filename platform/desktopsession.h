// SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
// SPDX-License-Identifier: MIT

#pragma once

class QProcessEnvironment;
class QWidget;

// What the program needs to know of the desktop session it runs in.
namespace DesktopSession {

// XDG_SESSION_TYPE says so, or, where it says nothing, a Wayland display is set.
bool isWayland(const QProcessEnvironment &env);

// Whether to ask Qt for X11 (Xwayland) before QApplication exists: in a
// Wayland session with an X server to reach, unless the user chose a platform
// (QT_QPA_PLATFORM, -platform). Wayland gives a client no way to show a box
// above another program without taking the keyboard; X11 does.
// xServerReachable is asked only when it decides.
bool prefersX11(int argc, const char *const *argv, const QProcessEnvironment &env,
                bool (*xServerReachable)());

// Whether a connection to the X server of DISPLAY succeeds.
bool xServerReachable();

// Names the window's X11 class after the menu entry (the desktop file name),
// so desktops show it under the entry's name and icon. Qt takes the class
// from the application name, in UTF-8, where X says Latin-1. Call it before
// the window is shown; elsewhere than on X11 it does nothing.
void nameWindowClass(QWidget &window);

} // namespace DesktopSession
