#!/usr/bin/env bash
# Configures and builds all three builds into BUILD_DIR (default: build). Extra arguments go
# to the configure step, e.g. -DBIOSUPDATE_SUPPLIED_CAPSULE=/path/47K31RB4.cap.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir"
