# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT

# A Debian package of the installed program: `cpack -G DEB` in a build
# configured with -DCMAKE_INSTALL_PREFIX=/usr.

set(VINDRIK_PACKAGE_MAINTAINER
    "Vindriks Chatt maintainers <maintainers@users.noreply.c-seed-8ea287a5.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME vindrik-chatt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vindriks Chatt")
set(CPACK_PACKAGE_CONTACT "${VINDRIK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "alerts you when chosen nicknames enter a web chat")
set(CPACK_PACKAGE_DESCRIPTION
    "Vindriks Chatt sökning watches the user list of one web chat and tells\n"
    "you with a message box, a beep or a sound when any of up to eight\n"
    "nicknames is online. The user interface is in Swedish.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})

# Only what the program needs at run time: the install rules of that
# component. Test programs, benchmarks, the demo chat and build tools stay out
# even if they ever get install rules of their own.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};vindrik-chatt;/")
set(CPACK_STRIP_FILES ON)

# A Debian package lives in /usr. CPack stages it under DESTDIR with this as
# the install prefix, so the menu entry's Exec line names /usr, not the
# staging folder.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the Qt, C++ and libcanberra libraries the program
# links. That covers Qt's xcb platform plugin (in libqt6gui6) and the
# multimedia backends (in libqt6multimedia6) on Debian 12. It cannot see that
# the window needs some font to draw its text, that the sound is only heard
# through a PulseAudio compatible sound server, nor that the bell on Wayland
# wants libcanberra's PulseAudio backend and a sound theme with a bell in it,
# and Qt's wayland plugin to run there natively at all (under XWayland the X
# bell may go unheard).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core | fonts-liberation2 | fonts-freefont-ttf")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "pipewire-pulse | pulseaudio, libcanberra-pulse, sound-theme-freedesktop, qt6-wayland")

include(CPack)
