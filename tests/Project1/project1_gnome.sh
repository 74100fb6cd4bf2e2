#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Plays the user of the installed program in a GNOME Shell Wayland session,
# headless, with Xwayland, started as the desktop starts it. The user watches
# Kalle with "Popup", then types in another program, a GTK window on Wayland:
# the program must run on X11 (Xwayland), and the alert must come up above the
# other program without taking a key, ask for attention under the menu entry's
# name, answer to Return once the user turns to it, and come again. The
# window's controls are found over AT-SPI by their accessible names, as a
# screen reader finds them; keys and clicks go through the shell's own virtual
# input devices, as a user's would, and the nick through Xwayland.
#   project1_gnome.sh PROGRAM DEMOCHAT PORT BUILD_DIR
# PROGRAM watches the chat at 127.0.0.1:PORT, where DEMOCHAT is started; the
# menu entry and icon are installed from BUILD_DIR into a scratch prefix.
set -euo pipefail
program=$1 demochat=$2 port=$3 build=$4
here=$(dirname "${BASH_SOURCE[0]}")

session=gnome
screenshot() { gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
    --method org.gnome.Shell.Screenshot.Screenshot false false "$1" >/dev/null; }
source "$here/session.sh"
mkdir -p "$scratch/runtime" "$scratch/config" "$scratch/data"
chmod 700 "$scratch/runtime"
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_HOME=$scratch/config
export XDG_DATA_HOME=$scratch/data XDG_DATA_DIRS=$scratch/prefix/share:/usr/local/share:/usr/share
export LANG=C.UTF-8 GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
cmake --install "$build" --prefix "$scratch/prefix" --component vindrik-chatt >/dev/null

# The shell runs Eval only in its unsafe mode, which GNOME 43 turns on for an
# extension alone; ours does nothing else.
extension=$XDG_DATA_HOME/gnome-shell/extensions/unsafe@vindrik.test
mkdir -p "$extension" "$XDG_CONFIG_HOME/glib-2.0/settings"
echo '{"uuid": "unsafe@vindrik.test", "name": "unsafe", "description": "Eval for a test", "shell-version": ["43"]}' \
    >"$extension/metadata.json"
echo 'function init() { return { enable() { global.context.unsafe_mode = true; }, disable() {} }; }' \
    >"$extension/extension.js"
printf '[org/gnome/shell]\nenabled-extensions=[%s]\nwelcome-dialog-last-shown-version=%s\n' \
    "'unsafe@vindrik.test'" "'999'" >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"

# The shell asks the system bus for logind; a private one answers that nobody is there.
for bus in system session; do
    mkfifo "$scratch/$bus.address"
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/$bus.bus" \
        --print-address=3 3>"$scratch/$bus.address" 2>/dev/null &
    pids+=($!)
    read -r -t 10 address <"$scratch/$bus.address"
    [[ $bus == system ]] && export DBUS_SYSTEM_BUS_ADDRESS=$address || export DBUS_SESSION_BUS_ADDRESS=$address
done

gnome-shell --headless --wayland --wayland-display=vindrik-gnome --virtual-monitor 1024x768 \
    >"$scratch/shell.log" 2>&1 &
pids+=($!)
# Runs JavaScript in the shell and prints its result.
shell()
{
    local out
    out=$(gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval "$1" 2>/dev/null) || return 1
    [[ $out == "(true, "* ]] || return 1
    out=${out#"(true, '"}
    echo "${out%"')"}"
}
shell_ready() { [[ $(shell 1+1) == 2 ]]; }
within 30 shell_ready || fail "the shell did not start: $(tail -3 "$scratch/shell.log")"
# The shell starts in its overview, once it has started up.
desktop_shown() { [[ $(shell 'Main.layoutManager._startingUp || Main.overview.hide(), Main.overview.visible') == false ]]; }
within 10 desktop_shown || fail "the overview stayed"
export WAYLAND_DISPLAY=vindrik-gnome
DISPLAY=$(shell 'imports.gi.GLib.getenv("DISPLAY")')
XAUTHORITY=$(shell 'imports.gi.GLib.getenv("XAUTHORITY")')
DISPLAY=${DISPLAY//\"/} XAUTHORITY=${XAUTHORITY//\"/}
export DISPLAY XAUTHORITY
[[ -n $DISPLAY ]] || fail "no Xwayland"

# Input as the shell gets it from a keyboard and a mouse.
shell 'const C = imports.gi.Clutter, seat = C.get_default_backend().get_default_seat();
    global.vindrik = { keys: seat.create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE),
        mouse: seat.create_virtual_device(C.InputDeviceType.POINTER_DEVICE), left: 0 };
    global.vindrik.press = (keyval) => { const t = C.get_current_event_time() * 1000;
        global.vindrik.keys.notify_keyval(t, keyval, C.KeyState.PRESSED);
        global.vindrik.keys.notify_keyval(t, keyval, C.KeyState.RELEASED); }; 0' >/dev/null ||
    fail "no virtual input devices"
# Types the text, a key each DELAY ms, without waiting; typing() says whether it is still at it.
type_text()
{
    shell "const C = imports.gi.Clutter, text = $(printf '%s' "$1" | /usr/bin/python3 -c 'import json, sys; print(json.dumps(sys.stdin.read()))');
        global.vindrik.left = text.length; let i = 0;
        imports.gi.GLib.timeout_add(0, $2, () => { global.vindrik.press(C.unicode_to_keysym(text.codePointAt(i++)));
            global.vindrik.left = text.length - i; return i < text.length; }); 0" >/dev/null
}
typing() { [[ $(shell 'global.vindrik.left') != 0 ]]; }
key() { shell "global.vindrik.press(imports.gi.Clutter.KEY_$1)" >/dev/null; }
# Clicks at a place in a window, by its title (a regular expression), given
# as fractions of the size of its contents.
click()
{
    shell "const C = imports.gi.Clutter, v = global.vindrik, t = C.get_current_event_time() * 1000;
        const w = global.display.list_all_windows().find(w => /$1/.test(w.get_title()));
        const r = w.frame_rect_to_client_rect(w.get_frame_rect());
        v.mouse.notify_absolute_motion(t, r.x + r.width * $2, r.y + r.height * $3);
        v.mouse.notify_button(t, C.BUTTON_PRIMARY, C.ButtonState.PRESSED);
        v.mouse.notify_button(t, C.BUTTON_PRIMARY, C.ButtonState.RELEASED); 0" >/dev/null
    sleep 0.3
}
# Reads the shell's window with the title (a regular expression): JS of "w".
window_says() { shell "const w = global.display.list_all_windows().find(w => /$1/.test(w.get_title())); w ? $2 : 'none'"; }

"$demochat" --port "$port" >/dev/null &
pids+=($!)
# The window's controls are read over AT-SPI, on the session's accessibility bus.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null ||
    fail "no accessibility bus"
# As the desktop starts it: a Wayland session, both displays, no platform
# chosen; its widgets on AT-SPI, as for a screen reader.
XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$program" 2>"$scratch/program.log" &
pids+=($!)
within 20 eval '[[ $(window_says "^Vindriks Chatt s" "w.get_client_type()") == [01] ]]' || fail "no window"
[[ $(window_says "^Vindriks Chatt s" "w.get_client_type()") == 1 ]] ||
    fail "the program did not run on X11: its window is a Wayland client"
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Vindriks Chatt s' | head -1)
[[ -n $window ]] || fail "the program's window is not on Xwayland"

focused() { [[ $(shell "global.display.focus_window?.get_title()") == "\"$1\"" ]]; }
# The user clicks into the window with the title until it has the keyboard: a
# window just mapped may miss the first click.
turn_to()
{
    local tries
    for tries in 1 2 3; do
        click "^${1:0:14}" 0.2 0.3
        within 2 focused "$1" && return 0
    done
    return 1
}
a11y() { "$here/atspi.py" "$@"; }
nick() { [[ $(a11y text text "Nick, rad 1") == "$1" ]]; }
# The user types the nick, ticks Popup and starts watching: the first look
# comes 10 s later. The nick with real keys, which pass the program's own key
# filter.
watch_for()
{
    within 5 focused "Vindriks Chatt sökning" || turn_to "Vindriks Chatt sökning" ||
        fail "the window did not get the keyboard"
    within 5 eval '[[ $(xdotool getwindowfocus) == "$window" ]]' || fail "Xwayland did not focus the window"
    a11y focus text "Nick, rad 1" || fail "no field for the first nick"
    xdotool type --delay 30 "$1"
    within 5 nick "$1" || fail "the first nick reads '$(a11y text text "Nick, rad 1")', not $1"
    a11y press "check box" "Popup, rad 1" && a11y wait "check box" "Popup, rad 1" checked ||
        fail "Popup did not tick"
    a11y press "push button" "Starta programmet" && a11y wait "push button" "Stoppa programmet" ||
        fail "the button did not start watching"
}
watch_for Kalle

# The other program: a GTK text window on Wayland that counts the keys it gets.
/usr/bin/python3 -c '
import sys, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
keys = 0
def count(widget, event):
    global keys
    keys += 1
    open(sys.argv[1], "w").write(str(keys))
window = Gtk.Window(title="keysink")
window.set_default_size(500, 300)
text = Gtk.TextView()
text.connect("key-press-event", count)
window.add(text)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
' "$scratch/keys" 2>/dev/null &
pids+=($!)
within 10 focused keysink ||
    fail "the other program did not get the keyboard"
text=$(printf 'hej %.0s' {1..75})
type_text "$text" 40
box() { window_says "^Personen du s" 1; }
has_box() { [[ $(box) == 1 ]]; }
no_box() { [[ $(box) == '"none"' ]]; }
within 25 has_box || fail "no alert"
sleep 0.5
focus=$(shell 'global.display.focus_window?.get_title()')
[[ $focus == '"keysink"' ]] || fail "the alert took the keyboard: $focus"
top=$(shell 'global.display.sort_windows_by_stacking(global.display.list_all_windows()).map(w => w.get_title()).filter(t => /^(keysink|Personen du s)/.test(t)).pop()')
[[ $top == '"Personen du söker har kommit in"' ]] || fail "the alert is not above the other program: $top"
[[ $(window_says "^Personen du s" "w.get_client_type()") == 1 ]] || fail "the alert is not on X11"
[[ $(window_says "^Personen du s" "w.demands_attention") == true ]] || fail "no attention asked for"
app=$(window_says "^Personen du s" "imports.gi.Shell.WindowTracker.get_default().get_window_app(w).get_id()")
[[ $app == '"vindrik-chatt.desktop"' ]] || fail "the shell does not know the alert as the menu entry's: $app"
banner() { shell 'Main.messageTray.getSources().map(s => s.notifications.map(n => n.title + ": " + n.bannerBodyText)).flat().join("; ")'; }
within 5 eval '[[ $(banner) == *"Vindriks Chatt sökning: “Personen du söker har kommit in” is ready"* ]]' ||
    fail "no banner under the menu entry's name: $(banner)"
within 30 eval '! typing' || fail "the typing did not end"
sleep 0.5
typed=$(cat "$scratch/keys")
((typed == ${#text})) || fail "the other program got $typed of ${#text} keys"
has_box || fail "the alert did not wait for an answer"
[[ $(shell 'global.display.focus_window?.get_title()') == '"keysink"' ]] || fail "the alert took the keyboard at last"

# The user turns to the alert with a click and answers with Return.
turn_to "Personen du söker har kommit in" || fail "a click did not activate the alert"
key Return
within 5 no_box || fail "Return did not answer the alert"
within 15 has_box || fail "watching stopped"
# With the user in the program's window, the next alert takes the keyboard.
turn_to "Personen du söker har kommit in" || fail "a click did not activate the second alert"
key Return
within 5 no_box || fail "Return did not answer the second alert"
# (The next alert may come meanwhile; the click then hands the keyboard to it.)
click "^Vindriks Chatt s" 0.9 0.95
within 5 eval 'focused "Vindriks Chatt sökning" || has_box' || fail "a click did not activate the window"
within 15 has_box || fail "watching stopped after the second alert"
within 5 focused "Personen du söker har kommit in" || fail "the alert over the active window did not take the keyboard"
key Return
within 5 no_box || fail "Return did not answer the alert over the window"
echo "PASS (gnome)"
