#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Builds the Debian package in build-pkg/, checks what it declares and holds,
# installs it on this machine with apt-get, checks the installed program and
# purges the package again. Meant for a throwaway machine (CI runs it as
# root); elsewhere it uses sudo for apt-get. Arguments go to cmake.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
source scripts/deps.sh

build_dir=build-pkg
package=vindrik-chatt
title="Vindriks Chatt sökning"

fail()
{
    echo "package.sh: $*" >&2
    exit 1
}

# Whatever this run started or installed, undone on every way out.
package_installed=false
scratch=
xvfb_pid=
program_pid=
purge()
{
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y "$package"
}
stop()
{
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup()
{
    if [[ -n $program_pid ]]; then
        stop "$program_pid"
    fi
    if [[ -n $xvfb_pid ]]; then
        stop "$xvfb_pid"
    fi
    if $package_installed; then
        purge || true
    fi
    if [[ -n $scratch ]]; then
        rm -rf "$scratch"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

as_root=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || fail "installing the package needs root or sudo"
    as_root=(sudo)
fi

# The run ends by purging the package: never do that to a real installation.
if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) == installed ]]; then
    fail "$package is already installed here; remove it first"
fi

started=$SECONDS
vindrik_install_packages "${VINDRIK_BUILD_PACKAGES[@]}" "${VINDRIK_RUN_PACKAGES[@]}" \
    "${VINDRIK_TEST_PACKAGES[@]}"

# CPack's dependency scan, and what the checks below run.
for tool in dpkg-shlibdeps:dpkg-dev file:file desktop-file-validate:desktop-file-utils \
    appstreamcli:appstream lintian:lintian Xvfb:xvfb xdotool:xdotool; do
    command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} is missing (Debian package ${tool#*:})"
done

cmake --preset package -U CHAT_HOST "$@"
cmake --build --preset package
built=$SECONDS

rm -f "$build_dir/${package}"_*.deb
cpack --preset package
debs=("$build_dir/${package}"_*.deb)
if ((${#debs[@]} != 1)) || [[ ! -f ${debs[0]} ]]; then
    fail "cpack made no single $package .deb: ${debs[*]}"
fi
deb=$PWD/${debs[0]}

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build_dir/CMakeCache.txt")
[[ -n $version && -n $libdir ]] || fail "no project version or library folder in $build_dir"
folder=/usr/$libdir/$package
program=$folder/Project1
sound=$build_dir/bin/Hej.WAV
metainfo=/usr/share/metainfo/$(sed -n 's/^VINDRIK_APPSTREAM_ID:INTERNAL=//p' "$build_dir/CMakeCache.txt").metainfo.xml
[[ $metainfo != */.metainfo.xml ]] || fail "no AppStream id in $build_dir"

# --- What the package declares -------------------------------------------
field()
{
    dpkg-deb -f "$deb" "$1"
}
expect_field()
{
    local value
    value=$(field "$1")
    [[ $value == "$2" ]] || fail "$1 is '$value', expected '$2'"
}
expect_field Package "$package"
expect_field Version "$version-1"
expect_field Section net
expect_field Architecture "$(dpkg --print-architecture)"
[[ -n $(field Maintainer) ]] || fail "the package names no maintainer"
[[ $(field Description) == *Swedish* ]] || fail "the description does not say the window is in Swedish"

depends=$(field Depends)
[[ -n $depends ]] || fail "the package declares no dependencies"
# The names alone, alternatives included, without version constraints.
mapfile -t depended < <(tr ',|' '\n' <<<"$depends" | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d')
for wanted in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 \
    libqt6multimedia6 libcanberra0 fonts-dejavu-core; do
    printf '%s\n' "${depended[@]}" | grep -qxF "$wanted" || fail "Depends lacks $wanted: $depends"
done
if printf '%s\n' "${depended[@]}" | grep -q -- '-dev$'; then
    fail "the package depends on development packages: $depends"
fi
# A sound server for "Ljud"; for "Pip" on Wayland also libcanberra's backend
# for it and a sound theme with a bell.
expect_field Recommends \
    "pipewire-pulse | pulseaudio, libcanberra-pulse, sound-theme-freedesktop, qt6-wayland"

# --- What the package holds: exactly the program's own files -------------
expected_files=(
    "-rwxr-xr-x root/root .$program"
    "-rw-r--r-- root/root .$folder/Hej.WAV"
    "lrwxrwxrwx root/root ./usr/bin/$package -> ../$libdir/$package/Project1"
    "-rw-r--r-- root/root ./usr/share/applications/$package.desktop"
    "-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/$package.svg"
    "-rw-r--r-- root/root .$metainfo"
    "-rw-r--r-- root/root ./usr/share/man/man1/$package.1.gz"
    "-rw-r--r-- root/root ./usr/share/doc/$package/copyright"
    "-rw-r--r-- root/root ./usr/share/doc/$package/changelog.Debian.gz"
)
expected=$(
    for entry in "${expected_files[@]}"; do
        path=${entry#* * }
        path=${path%% -> *}
        echo "$entry"
        while [[ $path == */*/* ]]; do
            path=${path%/*}
            echo "drwxr-xr-x root/root $path/"
        done
    done | sort -u -k3
)
actual=$(dpkg-deb -c "$deb" | awk '{ $3 = $4 = $5 = ""; print }' | tr -s ' ' | sort -u -k3)
if [[ $actual != "$expected" ]]; then
    diff -u <(echo "$expected") <(echo "$actual") >&2 || true
    fail "the package does not hold exactly the program's files (- expected, + found)"
fi

# The menu entry is written at install time: it must name the final place,
# not the staging folder CPack installed into.
exec_line=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/applications/$package.desktop" |
    grep '^Exec=')
[[ $exec_line == "Exec=$program" ]] || fail "the packaged menu entry has '$exec_line'"

# Debian's own checks. Errors and warnings fail; the one warning kept is
# suppressed by name: initial-upload-closes-no-bugs asks a first upload to
# Debian's archive to close its ITP bug, and this package is not uploaded
# there. Infos are printed, not failed on.
lintian --pedantic --display-info --fail-on error,warning \
    --suppress-tags initial-upload-closes-no-bugs "$deb" ||
    fail "lintian objects to $(basename "$deb") (above)"

packed=$SECONDS

# --- Installed for real ---------------------------------------------------
package_installed=true
# Recommends name a sound server and what the bell plays through; a desktop
# has them, a CI machine needs none.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb"
installed=$SECONDS

[[ $(dpkg-query -W -f='${db:Status-Status} ${Version}' "$package") == "installed $version-1" ]] ||
    fail "dpkg does not list $package $version-1 as installed"
[[ -x $program ]] || fail "no program at $program"
[[ -f $folder/Hej.WAV ]] || fail "Hej.WAV is not beside the program in $folder"
cmp -s "$sound" "$folder/Hej.WAV" || fail "the installed Hej.WAV differs from the one built"
[[ -L /usr/bin/$package && $(readlink -f "/usr/bin/$package") == "$program" ]] ||
    fail "/usr/bin/$package does not lead to $program"
if ldd "$program" | grep -F 'not found'; then
    fail "the installed program misses shared libraries"
fi

entry=/usr/share/applications/$package.desktop
validation=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate rejects $entry: $validation"
[[ -z $validation ]] || fail "desktop-file-validate objects to $entry: $validation"
for line in "Name=$title" "Exec=$program" "Icon=$package"; do
    grep -qxF "$line" "$entry" || fail "$entry lacks the line '$line'"
done
icon=/usr/share/icons/hicolor/scalable/apps/$package.svg
grep -q '</svg>' "$icon" || fail "no SVG icon at $icon"
# The metadata as a software centre reads it, with the menu entry it launches.
appstreamcli validate --no-net --explain "$metainfo" || fail "appstreamcli rejects $metainfo"
grep -qxF "  <launchable type=\"desktop-id\">$package.desktop</launchable>" "$metainfo" ||
    fail "$metainfo does not launch $package.desktop"
grep -qxF 'License: MIT' "/usr/share/doc/$package/copyright" ||
    fail "the installed copyright file names no MIT licence"

scratch=$(mktemp -d)
mkdir -m 0700 "$scratch/runtime"

# Started through the launcher, the program must keep running until stopped.
status=0
(cd "$scratch" && XDG_RUNTIME_DIR=$scratch/runtime QT_QPA_PLATFORM=offscreen \
    timeout 5 "/usr/bin/$package") || status=$?
((status == 124)) || fail "the installed program ended with status $status within 5 seconds"

# On X11 (Xvfb here) it must load the xcb plugin the dependencies bring and
# show its window.
mkfifo "$scratch/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 10 display <"$scratch/display" || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
(cd "$scratch" && DISPLAY=:$display XDG_RUNTIME_DIR=$scratch/runtime QT_QPA_PLATFORM=xcb \
    exec "/usr/bin/$package") >"$scratch/program.log" 2>&1 &
program_pid=$!
shown=
for _ in $(seq 50); do
    if DISPLAY=:$display xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; then
        shown=yes
        break
    fi
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.2
done
alive=yes
kill -0 "$program_pid" 2>/dev/null || alive=
stop "$program_pid"
program_pid=
stop "$xvfb_pid"
xvfb_pid=
[[ -n $alive ]] || fail "the program died on X11: $(cat "$scratch/program.log")"
[[ -n $shown ]] || fail "no window '$title' appeared on X11: $(cat "$scratch/program.log")"

package_installed=false
purge
[[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]] ||
    fail "$package is still installed after the purge"
for path in "$program" "$folder" "/usr/bin/$package" "$entry" "$icon" "$metainfo" \
    "/usr/share/doc/$package"; do
    [[ ! -e $path && ! -L $path ]] || fail "$path is left after the purge"
done

cat <<EOF

Package:  $(basename "$deb") ($(stat -c %s "$deb") bytes)
Depends:  $depends
Contents: ${#expected_files[@]} files, as expected; menu entry runs $program;
          lintian passed
Install:  apt-get installed it; launcher, sound, menu entry, icon and AppStream
          metadata in place;
          the program kept running headless and showed its window on X11;
          purged again.
Times:    build $((built - started)) s, cpack and package checks $((packed - built)) s,
          apt-get install $((installed - packed)) s, installed checks and purge $((SECONDS - installed)) s
EOF
