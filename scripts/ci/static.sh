#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Static checks over the project's own sources: clang-tidy (the checks in
# .clang-tidy, every finding an error), cppcheck, clang-format and the SPDX
# licence headers. Configures build-static/ (the "static" preset) for its
# compile database and generates the moc files the sources include, which
# builds little else. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

build="build-static"
folders=(watch platform window Project1 demo tools tests bench fuzz)
present=()
for folder in "${folders[@]}"; do
    [[ -d $folder ]] && present+=("$folder")
done

# The preset configures with clang, whose front end clang-tidy is: the compile
# database then has no g++-only flags, and takes in the fuzz target, which
# needs clang.
cmake --preset static >/dev/null
cmake --build --preset static

status=0

# Only our own .cpp files: the moc output in the build tree is Qt's.
tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) || {
    echo "run-clang-tidy not found (Debian package clang-tidy)" >&2
    exit 1
}
folder_regex=$(
    IFS='|'
    echo "${present[*]}"
)
echo "clang-tidy over $(grep -oE "\"file\": \"$PWD/($folder_regex)/[^\"]*\\.cpp\"" \
    "$build/compile_commands.json" | sort -u | wc -l) files"
"$tidy" -p "$build" -j 2 -quiet \
    "^$PWD/($folder_regex)/.*\\.cpp\$" >"$build/clang-tidy.log" 2>&1 || status=$?
# The runner colours its output and prints each file's command and a count of
# the warnings it filtered out of Qt's headers; only the findings matter.
if ((status != 0)); then
    sed -r 's/\x1b\[[0-9;]*m//g' "$build/clang-tidy.log" |
        grep -vE '^clang-tidy|^[0-9]+ warnings? generated\.$' || true
    echo "clang-tidy found problems (above)" >&2
fi

includes=()
for folder in watch platform window demo tools bench fuzz tests/support; do
    [[ -d $folder ]] && includes+=(-I "$folder")
done
echo "cppcheck over: ${present[*]}"
cppcheck -j 2 --quiet --std=c++20 --enable=warning,performance,portability \
    --error-exitcode=1 --inline-suppr --library=qt \
    -DQT_NO_KEYWORDS -DQT_NO_CONTEXTLESS_CONNECT \
    "${includes[@]}" "${present[@]}" || {
    status=1
    echo "cppcheck found problems (above)" >&2
}

# Formatting: the committed .clang-format, every difference an error.
mapfile -t sources < <(find "${present[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
echo "clang-format over ${#sources[@]} files"
clang-format-14 --dry-run --Werror "${sources[@]}" || {
    status=1
    echo "clang-format: files differ from .clang-format (above; clang-format-14 -i fixes them)" >&2
}

echo "SPDX licence headers"
bash scripts/spdx-headers.sh || status=1

exit "$status"
