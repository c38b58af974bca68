# shellcheck shell=bash
# What the file checks share with the end-to-end checks: one check per observable fact,
# expected beside actual on failure, and the closing count (tally).
# shellcheck source=../wine/expect.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wine/expect.sh"
check() { expect "$@"; }
