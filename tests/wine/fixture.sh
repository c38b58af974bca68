#!/usr/bin/env bash
# CTest fixture: "fixture.sh create STATE_DIR" makes the private prefix and screen that the
# end-to-end checks share; "fixture.sh destroy STATE_DIR" removes them.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
case "${1:-}" in
  create) rm -rf "$2"; start=$(date +%s%N); wine_prefix_create "$2" &&
            echo "prefix ready in $(( ($(date +%s%N) - start) / 1000000 )) ms" ;;
  destroy) wine_prefix_destroy "$2" ;;
  *) echo "usage: fixture.sh create|destroy STATE_DIR" >&2; exit 2 ;;
esac
