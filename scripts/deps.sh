# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT

# shellcheck shell=bash disable=SC2034
# Sourced by the scripts here, from the repository root. Installs with
# apt-get what a fresh Debian 12 machine lacks, and configures build/.

# libcanberra sounds the bell on Wayland, and an alert box asks the X window
# manager for every workspace through xcb; cmake finds both with pkg-config.
VINDRIK_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-multimedia-dev zlib1g-dev
    libcanberra-dev libxcb1-dev libbenchmark-dev)
# The window wants a font; Qt's X11 plugin comes with the Qt libraries.
VINDRIK_RUN_PACKAGES=(fonts-dejavu-core)
# The install test checks the menu entry with desktop-file-validate and the
# AppStream metadata with appstreamcli; the package check builds a .deb
# (dpkg-shlibdeps, file), runs lintian on it and starts the installed program
# on a virtual X display; one test plays the alerts on a headless
# Weston into a private PulseAudio, natively on Qt's wayland platform, with the
# freedesktop sound theme's bell played through libcanberra's PulseAudio
# backend; and the whole program is played by a user on a virtual X display
# under openbox, typing into xev (x11-utils, with xprop and xwininfo) while the
# alert comes, closing a window with wmctrl and taking screenshots with
# imagemagick; it finds the window's controls over AT-SPI, on a private D-Bus
# session (dbus-daemon, dbus-send) with Python's GObject bindings; and again in
# a headless GNOME Shell session with Xwayland, in private D-Bus buses (gdbus
# from libglib2.0-bin), typing into a GTK window of python3-gi's.
VINDRIK_TEST_PACKAGES=(desktop-file-utils appstream dpkg-dev file lintian xvfb xdotool wmctrl openbox x11-utils imagemagick
    weston pulseaudio pulseaudio-utils qt6-wayland sound-theme-freedesktop libcanberra-pulse
    dbus-daemon dbus-bin at-spi2-core python3-gi gir1.2-atspi-2.0
    gnome-shell xwayland libglib2.0-bin gir1.2-gtk-3.0)
# The checks beyond the suite: libFuzzer and the sanitizer runtimes come with
# clang's runtime package, and the static checkers.
VINDRIK_CHECK_PACKAGES=(clang libclang-rt-14-dev clang-tidy clang-format-14 cppcheck)

# Prints the packages of the arguments that are not installed.
vindrik_missing_packages()
{
    local package
    for package in "$@"; do
        if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]]; then
            echo "$package"
        fi
    done
}

# Installs the packages of the arguments that are missing, as root or with sudo.
vindrik_install_packages()
{
    local missing
    mapfile -t missing < <(vindrik_missing_packages "$@")
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    local as_root=()
    if ((EUID != 0)); then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}. Install them as root, or install sudo." >&2
            return 1
        fi
        as_root=(sudo)
    fi
    echo "Installing missing packages: ${missing[*]}"
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
    # A package may start a system service when installed; the tests start
    # what they need themselves, and a busy port must not fail the install.
    # Debian's policy-rc.d hook keeps services from starting during this
    # install only.
    # The subshell removes it again however the install ends, an interrupt
    # included: left behind, it would stop every service on the machine from
    # starting.
    (
        local policy=/usr/sbin/policy-rc.d own_policy=false
        remove_policy()
        {
            if $own_policy; then
                "${as_root[@]}" rm -f "$policy"
            fi
        }
        trap remove_policy EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        if [[ ! -e $policy ]]; then
            own_policy=true
            printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
            "${as_root[@]}" chmod 755 "$policy"
        fi
        "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y --no-install-recommends "${missing[@]}"
    )
}

# Configures the build of the CMakePresets.json configure preset named by the
# first argument; further arguments go to cmake. A CHAT_HOST from an earlier
# run is forgotten, so the default host holds unless the arguments name one.
vindrik_configure()
{
    local preset=$1
    shift
    cmake --preset "$preset" -U CHAT_HOST "$@"
}
