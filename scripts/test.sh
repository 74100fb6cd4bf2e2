#!/usr/bin/env bash
# Builds everything in build/ and runs the whole test suite headless (the
# tests set their own offscreen platform and runtime folder).
# Arguments go to cmake when configuring.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/deps.sh

vindrik_install_packages "${VINDRIK_BUILD_PACKAGES[@]}" "${VINDRIK_TEST_PACKAGES[@]}"
vindrik_configure build "$@"
cmake --build build
ctest --test-dir build --output-on-failure --no-tests=error
