#!/usr/bin/env bash
# Installs what is missing, builds Penrika and runs every test: unit tests, then GUI tests on
# private Xvfb + openbox displays, then the end-to-end tests in real browsers. Benchmarks (label
# bench) are not run here: `ctest --test-dir build -L bench -V` prints their figures.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing "${run_packages[@]}" "${test_packages[@]}"
build_penrika ON
cd "$build"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest -L 'unit|gui' --output-on-failure -j 2 --timeout 900 2>&1 | tee -a "$log" || status=1
# Browser tests measure typing: give them the machine to themselves.
ctest -L e2e --output-on-failure -j 1 --timeout 1500 2>&1 | tee -a "$log" || status=1
# One closing line for both runs.
read -r passed failed < <(awk '/tests passed, [0-9]+ tests failed out of/ {
        for (i = 1; i <= NF; i++) { if ($i == "failed") f += $(i-2); if ($i == "of") t += $(i+1) }
    } END { print t - f, f + 0 }' "$log")
echo "Total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
