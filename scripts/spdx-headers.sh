#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Checks that every source file (C++, CMake, shell, Python) names its licence
# and copyright holder in SPDX form near its top; exits non-zero and lists the
# files that do not.
#
#   scripts/spdx-headers.sh          check
#   scripts/spdx-headers.sh --add    also write the header into those files
#
# The header goes first, after a #! line if there is one.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

holder="2026 Vindriks Chatt maintainers"
add=false
case ${1-} in
--add) add=true ;;
"") ;;
*)
    echo "usage: $0 [--add]" >&2
    exit 2
    ;;
esac

# Tracked files and new ones not ignored, so a file not committed yet counts.
sources()
{
    local file
    git ls-files --cached --others --exclude-standard | sort -u | while read -r file; do
        [[ -f $file ]] || continue
        case $file in
        *.cpp | *.h | *.py | *.sh | *.cmake | *.cmake.in | CMakeLists.txt | */CMakeLists.txt)
            echo "$file"
            ;;
        *)
            # Scripts without an extension, such as .ci/run.
            if [[ $(head -c 2 "$file") == '#!' ]]; then
                echo "$file"
            fi
            ;;
        esac
    done
}

insert()
{
    local file=$1 mark
    case $file in
    *.cpp | *.h) mark=// ;;
    *) mark='#' ;;
    esac
    local header
    header=$(printf '%s SPDX-FileCopyrightText: %s\n%s SPDX-License-Identifier: MIT' \
        "$mark" "$holder" "$mark")
    local scratch
    scratch=$(mktemp)
    if [[ $(head -c 2 "$file") == '#!' ]]; then
        { head -n 1 "$file" && echo "$header" && tail -n +2 "$file"; } >"$scratch"
    else
        { echo "$header" && echo && cat "$file"; } >"$scratch"
    fi
    # Keeps the file's mode: cat into it rather than move the copy over it.
    cat "$scratch" >"$file"
    rm -f "$scratch"
}

# In a function, which bash reads whole before running it, and ended on the
# line that calls it: --add may rewrite this very file, and bash would
# otherwise read on at a shifted offset.
main()
{
    local file top missing=0
    while read -r file; do
        # The two tags within the first lines, as REUSE reads them.
        top=$(head -n 5 "$file")
        if [[ $top == *"SPDX-License-Identifier: MIT"* && $top == *"SPDX-FileCopyrightText: "* ]]; then
            continue
        fi
        if $add; then
            insert "$file"
            echo "added: $file"
        else
            echo "no SPDX header: $file" >&2
            missing=$((missing + 1))
        fi
    done < <(sources)

    if ((missing > 0)); then
        echo "$missing files lack the SPDX header; scripts/spdx-headers.sh --add writes it" >&2
        exit 1
    fi
}
main; exit
