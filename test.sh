#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless through
# CTest: once in the normal build and once built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
source "$(dirname "$0")/scripts/common.sh"

qf_install "${QF_PACKAGES[@]}"
export QT_QPA_PLATFORM=offscreen

qf_build "$QF_ROOT/build"
qf_say "running the tests"
ctest --test-dir "$QF_ROOT/build" --output-on-failure -j"$QF_JOBS"

qf_build "$QF_ROOT/build/asan" -DQF_SANITIZE=ON
qf_say "running the tests under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$QF_ROOT/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$QF_ROOT/build/asan" --output-on-failure -j"$QF_JOBS"
