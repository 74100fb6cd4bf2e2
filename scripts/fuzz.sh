#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Fuzzes the page path (bytes -> text -> online names) for SECONDS seconds.
#
#   scripts/fuzz.sh SECONDS [extra libFuzzer options...]
#
# Builds the fuzz target with clang in build-fuzz/ (the "fuzz" preset) and runs
# one fuzzing job over a copy of fuzz/corpus, so the committed seeds stay as
# they are. Inputs that crash or break a property are kept in
# build-fuzz/artifacts/; the exit status is non-zero when there are any. Needs
# clang and libFuzzer (libclang-rt-14-dev).
set -euo pipefail

if (($# < 1)) || ! [[ $1 =~ ^[0-9]+$ ]] || (($1 == 0)); then
    echo "usage: $0 SECONDS [libFuzzer options...]" >&2
    exit 2
fi
seconds=$1
shift

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-fuzz

work=
cleanup()
{
    if [[ -n $work ]]; then
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cd "$root"
# build-fuzz/ once held fuzz/ configured on its own; cmake refuses a cache made
# for another source folder.
fresh=()
if [[ -f $build/CMakeCache.txt ]] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$build/CMakeCache.txt"; then
    fresh=(--fresh)
fi
cmake --preset fuzz "${fresh[@]}" >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/vindrik-fuzz.XXXXXX")
cp -R "$root/fuzz/corpus" "$work/corpus"
mkdir -p "$build/artifacts"

# ASan's default 256 MB quarantine let the resident size climb past 1 GB in
# ten minutes, towards libFuzzer's 2 GB limit; a smaller one keeps it low.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64}

status=0
"$build/fuzz/fuzz_pagepath" \
    -max_total_time="$seconds" \
    -max_len=16384 \
    -timeout=25 \
    -dict="$root/fuzz/pagepath.dict" \
    -artifact_prefix="$build/artifacts/" \
    -print_final_stats=1 \
    "$@" \
    "$work/corpus" || status=$?

echo "corpus grew to $(find "$work/corpus" -type f | wc -l) files (the copy is removed on exit)"
if ((status != 0)); then
    echo "fuzzer failed (status $status); inputs kept in $build/artifacts/" >&2
fi
exit "$status"
