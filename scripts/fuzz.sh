#!/bin/sh
# Fuzzes the page path (bytes -> text -> online names) for SECONDS seconds.
#
#   scripts/fuzz.sh SECONDS [extra libFuzzer options...]
#
# Builds fuzz/ with clang in build-fuzz/ and runs one fuzzing job over a copy
# of fuzz/corpus, so the committed seeds stay as they are. Inputs that crash or
# break a property are kept in build-fuzz/artifacts/; the exit status is
# non-zero when there are any. Needs clang and libFuzzer (libclang-rt-14-dev).
set -eu

if [ $# -lt 1 ] || ! [ "$1" -gt 0 ] 2>/dev/null; then
    echo "usage: $0 SECONDS [libFuzzer options...]" >&2
    exit 2
fi
seconds=$1
shift

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_pagepath

work=$(mktemp -d "${TMPDIR:-/tmp}/vindrik-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
cp -R "$root/fuzz/corpus" "$work/corpus"
mkdir -p "$build/artifacts"

# ASan's default 256 MB quarantine let the resident size climb past 1 GB in
# ten minutes, towards libFuzzer's 2 GB limit; a smaller one keeps it low.
ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64}
export ASAN_OPTIONS

status=0
"$build/fuzz_pagepath" \
    -max_total_time="$seconds" \
    -max_len=16384 \
    -timeout=25 \
    -dict="$root/fuzz/pagepath.dict" \
    -artifact_prefix="$build/artifacts/" \
    -print_final_stats=1 \
    "$@" \
    "$work/corpus" || status=$?

echo "corpus grew to $(find "$work/corpus" -type f | wc -l) files (copy in $work, removed on exit)"
if [ "$status" -ne 0 ]; then
    echo "fuzzer failed (status $status); inputs kept in $build/artifacts/" >&2
fi
exit "$status"
