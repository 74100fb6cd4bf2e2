#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Remakes the README's pictures: the window watching the demo chat, and an
# alert box with its title bar, on a private X display under the openbox
# window manager. Writes docs/window.png and docs/alert.png.
#   scripts/screenshots.sh
# Arguments go to cmake when configuring build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh

vindrik_install_packages "${VINDRIK_BUILD_PACKAGES[@]}" "${VINDRIK_RUN_PACKAGES[@]}" \
    xvfb xdotool imagemagick openbox
vindrik_configure default "$@"
cmake --build --preset default --target Project1 demochat

pids=()
scratch=
cleanup()
{
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [[ -n $scratch ]]; then
        rm -rf "$scratch"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

scratch=$(mktemp -d)
chmod 700 "$scratch"
# Nothing of the user's own desktop settings leaks into the pictures.
export HOME=$scratch XDG_RUNTIME_DIR=$scratch XDG_CONFIG_HOME=$scratch/config
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8

mkfifo "$scratch/display"
Xvfb -displayfd 3 -screen 0 1024x640x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
pids+=($!)
read -r -t 10 display <"$scratch/display"
export DISPLAY=:$display
# A window shown before the window manager is ready would go unmanaged.
openbox --startup "touch $scratch/wm-ready" >/dev/null 2>&1 &
pids+=($!)
for _ in {1..100}; do
    [[ -e $scratch/wm-ready ]] && break
    sleep 0.1
done

chat_host=$(sed -n 's/^CHAT_HOST:[A-Z]*=//p' build/CMakeCache.txt)
build/bin/demochat --port "${chat_host##*:}" >/dev/null &
pids+=($!)
build/bin/Project1 2>/dev/null &
pids+=($!)

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vindriks Chatt s')
xdotool windowactivate --sync "$window"
sleep 1

# Clicks at a place in the window given as fractions of its size.
click()
{
    local WINDOW X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --window "$window" "$(awk -v f="$1" -v w="$WIDTH" 'BEGIN { print int(f * w) }')" \
        "$(awk -v f="$2" -v h="$HEIGHT" 'BEGIN { print int(f * h) }')" click 1
}
# The window with its frame, as the desktop shows it.
shoot()
{
    import -frame -window "$1" "$2"
    echo "wrote $2"
}

mkdir -p docs
click 0.365 0.09 # the first nick
xdotool type --delay 50 Kalle
xdotool key alt+s
# The first look comes ten seconds after the start; then the list shows who
# is in, the walk's last name selected, and the status line says when.
sleep 12
xdotool mousemove --window "$window" 1 1
shoot "$window" docs/window.png

click 0.52 0.092 # "Popup" in the first row: the next look alerts
box=$(timeout 10 xdotool search --sync --onlyvisible --name '^Personen du s')
sleep 0.5
shoot "$box" docs/alert.png
