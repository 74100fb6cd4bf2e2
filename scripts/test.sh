#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT
# Installs what is missing, builds everything and runs every check, in order;
# each step's build is a preset of CMakePresets.json:
#   1. the test suite (ctest, headless), with warnings as errors ("ci");
#   2. the suite again under AddressSanitizer and UndefinedBehaviorSanitizer
#      ("sanitize");
#   3. clang-tidy, cppcheck, clang-format and the SPDX licence headers over the
#      project's own code ("static");
#   4. a minute of fuzzing of the page path, from the committed seeds ("fuzz");
#   5. the Debian package: built, checked with lintian, installed and purged
#      again ("package"). This step changes the machine's installed packages,
#      so it runs only on a throwaway machine (CI=true) or when asked for with
#      --package.
#
#   scripts/test.sh            steps 1 to 4 (and 5 in CI)
#   scripts/test.sh --quick    step 1 only
#   scripts/test.sh --package  all five
# Other arguments go to cmake when configuring build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh

quick=false
package=${CI:-false}
cmake_args=()
for arg in "$@"; do
    case $arg in
    --quick) quick=true ;;
    --package) package=true ;;
    *) cmake_args+=("$arg") ;;
    esac
done

step()
{
    echo
    echo "==== $* ($(date +%H:%M:%S))"
}

# The suite runs the program itself too, so it needs what running it needs.
if $quick; then
    vindrik_install_packages "${VINDRIK_BUILD_PACKAGES[@]}" "${VINDRIK_RUN_PACKAGES[@]}" \
        "${VINDRIK_TEST_PACKAGES[@]}"
else
    vindrik_install_packages "${VINDRIK_BUILD_PACKAGES[@]}" "${VINDRIK_RUN_PACKAGES[@]}" \
        "${VINDRIK_TEST_PACKAGES[@]}" "${VINDRIK_CHECK_PACKAGES[@]}"
fi

step "1. test suite"
vindrik_configure ci "${cmake_args[@]}"
cmake --build --preset ci
ctest --preset ci
$quick && exit 0

step "2. test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/ci/sanitize.sh "${cmake_args[@]}"

step "3. static checks"
bash scripts/ci/static.sh

step "4. fuzzing the page path for 60 seconds"
bash scripts/fuzz.sh 60

if [[ $package == true ]]; then
    step "5. Debian package"
    bash scripts/ci/package.sh "${cmake_args[@]}"
else
    step "5. Debian package: skipped (installs a package; run with --package, or in CI)"
fi
step "all checks passed"
