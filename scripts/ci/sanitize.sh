#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Builds everything except the benchmarks with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-san/ and runs the whole test suite there.
# Fails on any failing test and on any sanitizer report, also from a child
# process (the demo chat site) whose exit status a test does not look at.
# Arguments go to cmake when configuring.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

build="build-san"

# The preset builds Debug: the suite waits on sockets and timers far more than
# it computes, so optimising buys little and costs build time on a small
# machine.
cmake --preset sanitize "$@"
cmake --build --preset sanitize

# AddressSanitizer and LeakSanitizer also write each report to a file of its
# own here, so a report from a child process whose output a test throws away
# is still seen. UndefinedBehaviorSanitizer reports only on standard error:
# it is found in the test log.
logs=$PWD/$build/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"

# Beyond the defaults: a pointer to a local kept past its function, a global
# built from another not built yet, C string functions reading past the end.
asan_options=(
    detect_leaks=1
    detect_stack_use_after_return=1
    check_initialization_order=1
    strict_init_order=1
    strict_string_checks=1
    halt_on_error=1
    "log_path=$logs/asan"
    "suppressions=$PWD/tests/sanitizer-suppressions/asan.supp"
)
ASAN_OPTIONS=$(
    IFS=:
    echo "${asan_options[*]}"
)
export ASAN_OPTIONS
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer-suppressions/lsan.supp:print_suppressions=0"

status=0
ctest --preset sanitize || status=$?

shopt -s nullglob
reports=("$logs"/*)
for report in "${reports[@]}"; do
    echo "==== $report"
    cat "$report"
done
if ((${#reports[@]} > 0)); then
    echo "sanitizer reports: ${#reports[@]} (above)" >&2
    status=1
fi
if grep -E 'runtime error:|ERROR: (Address|Leak|UndefinedBehavior)Sanitizer' \
    "$build/Testing/Temporary/LastTest.log"; then
    echo "sanitizer reports in the test output (above)" >&2
    status=1
fi
exit "$status"
