#!/usr/bin/env bash
# Plays the user of the whole program on a private X display under a real
# window manager. The user watches Kalle with "Popup", then types in another
# program, its window on another workspace: the alert must come up on top
# where the user is, without taking a single key, ask for attention, and
# answer to Return once the user turns to it. While an alert waits, the
# program's window takes no click and does not close. Then, while the chat
# holds a response back, a click on "Stoppa programmet" must take effect at once.
#   project1_x11.sh PROGRAM DEMOCHAT PORT [openbox|kwin|mutter]
# PROGRAM watches the chat at 127.0.0.1:PORT, where DEMOCHAT is started.
set -euo pipefail
program=$1 demochat=$2 port=$3 wm=${4:-openbox}

pids=()
scratch=$(mktemp -d)
cleanup()
{
    local pid
    for pid in "${pids[@]}"; do
        kill -CONT "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail()
{
    echo "FAIL ($wm): $*" >&2
    import -window root "$PWD/project1_x11-$wm.png" 2>/dev/null && echo "screen: $PWD/project1_x11-$wm.png" >&2
    exit 1
}
# Runs the command every tenth of a second until it succeeds, for at most $1 seconds.
within()
{
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}

chmod 700 "$scratch"
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

"$demochat" --port "$port" >/dev/null &
demo=$!
pids+=("$demo")
"$program" 2>"$scratch/program.log" &
pids+=($!)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vindriks Chatt s' | head -1)
[[ -n $window ]] || fail "no window"
# Low on the screen, so no alert (in the middle) covers the button.
xdotool windowmove --sync "$window" 0 380
xdotool windowactivate --sync "$window"

# Moves the pointer to a place in the window given as fractions of its size.
point()
{
    local WINDOW X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove --window "$1" "$(awk -v f="$2" -v w="$WIDTH" 'BEGIN { print int(f * w) }')" \
        "$(awk -v f="$3" -v h="$HEIGHT" 'BEGIN { print int(f * h) }')"
}
# The start/stop button as the window shows it, in raw pixels.
button()
{
    local WINDOW X Y WIDTH HEIGHT SCREEN
    xdotool mousemove --window "$window" 2 2
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window "$window" -crop "$((WIDTH * 40 / 100))x$((HEIGHT * 6 / 100))+$((WIDTH / 5))+$((HEIGHT * 80 / 100))" rgb:-
}
box() { xdotool search --onlyvisible --name '^Personen du s' | head -1; }
has_box() { [[ -n $(box) ]]; }
no_box() { [[ -z $(box) ]]; }
active() { [[ $(xprop -root _NET_ACTIVE_WINDOW | awk '{ print $NF }') == $(printf '0x%x' "$1") ]]; }
topmost() { [[ $(xprop -root _NET_CLIENT_LIST_STACKING | awk '{ print $NF }') == $(printf '0x%x' "$1") ]]; }

point "$window" 0.365 0.09 && xdotool click 1 && xdotool type --delay 30 Kalle
point "$window" 0.52 0.092 && xdotool click 1 # Popup
point "$window" 0.4 0.83 && xdotool click 1   # Starta programmet: the first look 10 s later
button >"$scratch/stop-caption"

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
within 20 has_box || fail "no alert"
alert=$(box)
sleep 0.5
topmost "$alert" || fail "the alert is not on top: $(xprop -root _NET_CLIENT_LIST_STACKING)"
active "$sink" || fail "the alert took the keyboard"
[[ $(xdotool get_desktop) == 0 ]] || fail "the user was moved to the program's workspace"
# On every workspace, so it is where the user is, now and after a switch.
xprop -id "$alert" _NET_WM_DESKTOP | grep -q '= 4294967295$' || fail "the alert is not on every workspace"
# mutter grants attention only to a window that is not in full view.
[[ $wm == mutter ]] || xprop -id "$alert" _NET_WM_STATE | grep -q _NET_WM_STATE_DEMANDS_ATTENTION ||
    fail "no attention asked for"
xprop -id "$alert" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || fail "the alert is not kept on top"
# Not a dialog of the program's, which window managers minimize with its window.
xprop -id "$alert" WM_TRANSIENT_FOR | grep -q 'not found' || fail "the alert belongs to the window"
wait "$typist"
typed=$(grep -c '^KeyPress event' "$scratch/keys" || true)
((typed == ${#text})) || fail "the other program got $typed of ${#text} keys"
has_box && active "$sink" || fail "the alert did not wait for an answer"

# The user turns to the alert with a click and answers with Return.
point "$alert" 0.2 0.3 && xdotool click 1
within 5 active "$alert" || fail "a click did not activate the alert"
xdotool key Return
within 5 no_box || fail "Return did not answer the alert"
# Watching goes on. At the next alert the user brings the program's window
# back, clicks "Stoppa programmet" behind the alert and asks to close the
# window: the alert takes the keyboard, and the window neither stops nor closes.
within 10 has_box || fail "watching stopped"
alert=$(box)
xdotool set_desktop_for_window "$window" 0
point "$window" 0.4 0.83 && xdotool click 1
within 5 active "$alert" || fail "the window behind the alert kept the keyboard"
wmctrl -i -c "$window"
button | cmp -s "$scratch/stop-caption" - || fail "a click behind the alert went through"
xwininfo -id "$window" | grep -q IsViewable || fail "the window closed behind the alert"
xdotool key Return
within 5 no_box || fail "Return did not answer the second alert"

# The chat holds its next response back; meanwhile the user stops watching.
kill -STOP "$demo"
xdotool windowactivate --sync "$window"
held() { awk -v port="$(printf ':%04X$' "$port")" '$3 ~ port && $4 == "01"' /proc/net/tcp | grep -q .; }
within 10 held || fail "no look began"
point "$window" 0.4 0.83 && xdotool click 1
button >"$scratch/start-caption"
cmp -s "$scratch/stop-caption" "$scratch/start-caption" && fail "the click waited for the chat"
kill -CONT "$demo"
# That look lists what it found, but watching was stopped: it alerts no more.
ended() { ! held; }
within 10 ended || fail "the held look did not end"
sleep 4
has_box && fail "an alert or a look came after watching was stopped"
echo "PASS ($wm)"
