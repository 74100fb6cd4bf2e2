#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Plays the user of the whole program on a private X display under a real
# window manager. The user watches Kalle with "Popup", then types in another
# program, its window on another workspace: the alert must come up on top
# where the user is, without taking a single key, ask for attention, and
# answer to Return once the user turns to it. While an alert waits, the
# program's window takes no click and does not close. Then, while the chat
# holds a response back, a click on "Stoppa programmet" must take effect at once.
# It finds the window's controls over AT-SPI by their accessible names, as a
# screen reader does (atspi.py), and waits for states rather than for times.
#   project1_x11.sh PROGRAM DEMOCHAT PORT [openbox|kwin|mutter]
# PROGRAM watches the chat at 127.0.0.1:PORT, where DEMOCHAT is started.
set -euo pipefail
program=$1 demochat=$2 port=$3 wm=${4:-openbox}
here=$(dirname "${BASH_SOURCE[0]}")

session=x11-$wm
screenshot() { import -window root "$1"; }
source "$here/session.sh"
export HOME=$scratch XDG_RUNTIME_DIR=$scratch XDG_CONFIG_HOME=$scratch/config
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8
unset WAYLAND_DISPLAY

mkfifo "$scratch/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
pids+=($!)
read -r -t 10 display <"$scratch/display"
export DISPLAY=:$display
case $wm in
openbox) openbox ;;
kwin) dbus-run-session kwin_x11 --replace ;;
mutter) dbus-run-session mutter --x11 --replace ;;
*) fail "unknown window manager" ;;
esac >"$scratch/wm.log" 2>&1 &
pids+=($!)
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
within 30 wm_ready || fail "the window manager did not start"
xdotool set_num_desktops 2

# A session bus of the test's own, which starts the accessibility bus when
# asked for it. Set only now, so the window manager keeps to its own.
mkfifo "$scratch/bus"
dbus-daemon --session --nofork --print-address=3 3>"$scratch/bus" >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 DBUS_SESSION_BUS_ADDRESS <"$scratch/bus"
export DBUS_SESSION_BUS_ADDRESS
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null ||
    fail "no accessibility bus"
a11y() { "$here/atspi.py" "$@"; }
# Holds when the driver's wait runs out of time ($1 s): what it waits for did not come.
not_within()
{
    local rc=0
    a11y --within "$1" "${@:2}" || rc=$?
    ((rc == 1))
}

"$demochat" --port "$port" >/dev/null &
demo=$!
pids+=("$demo")
# Qt offers its widgets to AT-SPI only when asked, or when a screen reader is on.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$program" 2>"$scratch/program.log" &
pids+=($!)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vindriks Chatt s' | head -1)
[[ -n $window ]] || fail "no window"
# The class names the menu entry, so desktops show the entry's name and icon.
menu_entry() { xprop -id "$1" WM_CLASS | grep -q ', "vindrik-chatt"$'; }
menu_entry "$window" || fail "the window's class is not the menu entry's: $(xprop -id "$window" WM_CLASS)"
# Low on the screen, so no alert (in the middle) covers the button.
xdotool windowmove --sync "$window" 0 380
xdotool windowactivate --sync "$window"

# A real click through the X server where the control is on the screen: an
# AT-SPI action would pass by the input the program holds back.
click()
{
    local extents x y width height
    extents=$(a11y extents "$@") || return
    read -r x y width height <<<"$extents"
    xdotool mousemove $((x + width / 2)) $((y + height / 2)) click 1
}
title="Personen du söker har kommit in"
has_box() { a11y --within 0 wait alert "$title"; }
# The alert's X window, for what only the window manager knows of it.
box() { timeout 5 xdotool search --sync --onlyvisible --name '^Personen du s' | head -1; }
active() { [[ $(xprop -root _NET_ACTIVE_WINDOW | awk '{ print $NF }') == $(printf '0x%x' "$1") ]]; }
topmost() { [[ $(xprop -root _NET_CLIENT_LIST_STACKING | awk '{ print $NF }') == $(printf '0x%x' "$1") ]]; }
has_state() { xprop -id "$1" _NET_WM_STATE | grep -q "$2"; }
everywhere() { xprop -id "$1" _NET_WM_DESKTOP | grep -q '= 4294967295$'; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
nick() { [[ $(a11y text text "Nick, rad 1") == "$1" ]]; }

# The nick is typed with real keys, which pass the program's own key filter.
a11y focus text "Nick, rad 1" || fail "no field for the first nick"
xdotool type --delay 30 Kalle
within 5 nick Kalle || fail "the first nick reads '$(a11y text text "Nick, rad 1")', not Kalle"
a11y press "check box" "Popup, rad 1" && a11y wait "check box" "Popup, rad 1" checked ||
    fail "Popup did not tick"
# The first look comes 10 s later.
a11y press "push button" "Starta programmet" && a11y wait "push button" "Stoppa programmet" ||
    fail "the button did not start watching"

# The watch window goes to the second workspace; on the first, the user types.
xdotool set_desktop_for_window "$window" 1
xdotool set_desktop 0
xev -name keysink -event keyboard >"$scratch/keys" 2>/dev/null &
pids+=($!)
sink=$(timeout 10 xdotool search --sync --onlyvisible --name '^keysink$' | head -1)
xdotool windowactivate --sync "$sink"
text=$(printf 'hej %.0s' {1..75})
xdotool type --delay 40 "$text" &
typist=$!
a11y --within 20 wait alert "$title" || fail "no alert"
said=$(a11y text alert "$title") || fail "the alert has no text"
[[ $said == "Kalle har kommit in på Vindriks chatt" ]] || fail "the alert says '$said'"
alert=$(box) || fail "the alert is not in view on the user's workspace"
within 5 topmost "$alert" || fail "the alert is not on top: $(xprop -root _NET_CLIENT_LIST_STACKING)"
active "$sink" || fail "the alert took the keyboard"
[[ $(xdotool get_desktop) == 0 ]] || fail "the user was moved to the program's workspace"
# On every workspace, so it is where the user is, now and after a switch.
within 5 everywhere "$alert" || fail "the alert is not on every workspace"
# mutter grants attention only to a window that is not in full view.
[[ $wm == mutter ]] || within 5 has_state "$alert" _NET_WM_STATE_DEMANDS_ATTENTION ||
    fail "no attention asked for"
within 5 has_state "$alert" _NET_WM_STATE_ABOVE || fail "the alert is not kept on top"
menu_entry "$alert" || fail "the alert's class is not the menu entry's: $(xprop -id "$alert" WM_CLASS)"
# Not a dialog of the program's, which window managers minimize with its window.
xprop -id "$alert" WM_TRANSIENT_FOR | grep -q 'not found' || fail "the alert belongs to the window"
wait "$typist"
typed=$(grep -c '^KeyPress event' "$scratch/keys" || true)
((typed == ${#text})) || fail "the other program got $typed of ${#text} keys"
has_box && active "$sink" || fail "the alert did not wait for an answer"
topmost "$alert" || fail "the alert went under the other program: $(xprop -root _NET_CLIENT_LIST_STACKING)"

# The user turns to the alert with a click and answers with Return.
click label "$said" || fail "no text on the alert"
within 5 active "$alert" || fail "a click did not activate the alert"
xdotool key Return
a11y --within 5 gone alert "$title" || fail "Return did not answer the alert"
# Watching goes on. At the next alert the user brings the program's window
# back, clicks "Stoppa programmet" behind the alert and asks to close the
# window: the alert takes the keyboard, and the window neither stops nor closes.
a11y --within 10 wait alert "$title" || fail "watching stopped"
alert=$(box) || fail "the second alert is not in view"
xdotool set_desktop_for_window "$window" 0
within 5 viewable "$window" || fail "the window did not come to the user's workspace"
click "push button" "Stoppa programmet" || fail "no button to stop watching"
within 5 active "$alert" || fail "the window behind the alert kept the keyboard"
# What went through would show at once, so a second without it is ample.
not_within 1 gone "push button" "Stoppa programmet" || fail "a click behind the alert went through"
wmctrl -i -c "$window"
hidden() { ! viewable "$window"; }
within 1 hidden && fail "the window closed behind the alert"
xdotool key Return
a11y --within 5 gone alert "$title" || fail "Return did not answer the second alert"

# The chat holds its next response back; meanwhile the user stops watching.
kill -STOP "$demo"
xdotool windowactivate --sync "$window"
held() { awk -v port="$(printf ':%04X$' "$port")" '$3 ~ port && $4 == "01"' /proc/net/tcp | grep -q .; }
within 10 held || fail "no look began"
click "push button" "Stoppa programmet" || fail "no button to stop watching"
a11y --within 5 wait "push button" "Starta programmet" || fail "the click waited for the chat"
kill -CONT "$demo"
# That look lists what it found, but watching was stopped: it alerts no more.
ended() { ! held; }
within 10 ended || fail "the held look did not end"
# No state tells that a look will not come; one still running would alert
# within its interval (3 s), so an alert-free 4 s says watching has stopped.
not_within 4 wait alert "$title" || fail "an alert or a look came after watching was stopped"
echo "PASS ($wm)"
