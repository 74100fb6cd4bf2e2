# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT

# shellcheck shell=bash
# Sourced by the whole-program tests, which set $session (the desktop's name)
# and screenshot FILE: the processes they start, a private scratch folder, one
# way out, and waits for a state rather than for a time.
pids=()
scratch=$(mktemp -d)
chmod 700 "$scratch"
cleanup()
{
    local pid
    for pid in "${pids[@]}"; do
        kill -CONT "$pid" 2>/dev/null || true # a chat held back with SIGSTOP
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Ends the test with the reason, what the screen showed and the program's last words.
fail()
{
    local picture=$PWD/project1_$session.png
    echo "FAIL ($session): $*" >&2
    screenshot "$picture" 2>/dev/null && echo "screen: $picture" >&2
    tail -5 "$scratch/program.log" >&2 2>/dev/null || true
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
