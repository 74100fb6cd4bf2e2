#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Builds the program in build/ and starts it. Unless a chat host is given, the
# demo chat site runs behind it for as long as the window is open.
#   scripts/run.sh                               watch the demo chat
#   scripts/run.sh -DCHAT_HOST=chat.example.se    watch a real chat
# Arguments go to cmake when configuring.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh

vindrik_install_packages "${VINDRIK_BUILD_PACKAGES[@]}" "${VINDRIK_RUN_PACKAGES[@]}"
vindrik_configure default "$@"
cmake --build --preset default --target Project1 demochat

demo_pid=
stop_demo()
{
    if [[ -n $demo_pid ]]; then
        kill "$demo_pid" 2>/dev/null || true
        wait "$demo_pid" 2>/dev/null || true
    fi
}
trap stop_demo EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

listening()
{
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

if [[ " $* " != *CHAT_HOST* ]]; then
    chat_host=$(sed -n 's/^CHAT_HOST:[A-Z]*=//p' build/CMakeCache.txt)
    port=${chat_host##*:}
    if listening "$port"; then
        echo "Something already answers on port $port; using it as the chat site."
    else
        build/bin/demochat --port "$port" &
        demo_pid=$!
        for _ in {1..50}; do
            listening "$port" && break
            if ! kill -0 "$demo_pid" 2>/dev/null; then
                demo_pid=
                echo "The demo chat site did not start." >&2
                exit 1
            fi
            sleep 0.1
        done
        echo "Watch the nick Kalle: he is always in the demo chat."
    fi
fi

build/bin/Project1
