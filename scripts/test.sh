#!/usr/bin/env bash
# Builds everything and runs every test: host unit and whole-run tests, the product file
# checks, the end-to-end runs of the 64-bit twin under Wine, and the runs of the 32-bit product
# and the twin in the emulated 64-bit guest (tests/guest). Ends with CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
ctest --test-dir "$build_dir" --output-on-failure -j2
