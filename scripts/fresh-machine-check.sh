#!/usr/bin/env bash
# Proves that the README's two commands work on a fresh Debian 12 with nothing else installed:
# makes a minimal Debian 12 system with mmdebstrap in a folder, from the machine's own apt
# sources, clones this project into it, runs `bash scripts/run.sh` and then
# `bash scripts/test.sh` there. The run's outcome comes first, in one line; the test command's
# output follows as it runs, so the report ends with CTest's summary. Exits 0 only when both
# passed. CI runs it (.ci/run): what lands is what a newcomer's machine gets, not what this
# machine happens to carry. It installs a whole system: about 30 minutes on 2 cores.
#   usage: scripts/fresh-machine-check.sh [WORK_DIR]   (default: a new folder under /tmp)
# Needs root (mmdebstrap and chroot) and the machine's package registry. The system is removed
# after a passing check when WORK_DIR was not given; the logs stay.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=apt_sources.sh
source "$root/scripts/apt_sources.sh"
readonly SUITE=bookworm
readonly VARIANT=minbase
# What a developer's fresh machine has besides the base system: git to clone, and sudo-less
# root. Everything else must come from the project's own scripts.
readonly EXTRA_PACKAGES=git,ca-certificates
readonly CLONE_DIR=/root/biosupdate

fail() { echo "fresh machine check: $*" >&2; exit 1; }

keep_system=yes
if [[ $# -gt 0 ]]; then work=$1; else work=$(mktemp -d /tmp/fresh-machine.XXXXXX); keep_system=no; fi
system="$work/system"
log="$work/log"
mkdir -p "$work"

if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap >/dev/null ||
    fail "mmdebstrap is missing and could not be installed"
fi
mapfile -t sources < <(apt_sources_files)
[[ ${#sources[@]} -gt 0 ]] ||
  fail "the machine has no apt sources ($APT_SOURCES_LIST or $APT_SOURCES_PARTS) to make the system from"

echo "Making a minimal Debian 12 in $system from ${sources[*]} ..."
started=$SECONDS
mmdebstrap --variant="$VARIANT" --include="$EXTRA_PACKAGES" "$SUITE" "$system" "${sources[@]}" \
  </dev/null >"$log.mmdebstrap" 2>&1 ||
  fail "mmdebstrap could not make the system from the machine's apt sources: $(grep -m1 -E '^(E:|W: .*[Ff]ail)' "$log.mmdebstrap" || tail -n 1 "$log.mmdebstrap")"
echo "system made in $((SECONDS - started)) s"

mounts=()
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
  mounts=()
}
trap unmount_all EXIT
for fs in proc sys dev dev/pts tmp; do
  mkdir -p "$system/$fs"
  case "$fs" in
    proc) mount -t proc proc "$system/proc" ;;
    sys) mount -t sysfs sys "$system/sys" ;;
    tmp) mount -t tmpfs tmp "$system/tmp" ;;
    *) mount --bind "/$fs" "$system/$fs" ;;
  esac
  mounts+=("$system/$fs")
done
cp /etc/resolv.conf "$system/etc/resolv.conf"

echo "Cloning the project (the committed state of $root) ..."
git clone -q "$root" "$system$CLONE_DIR"

in_system() {  # in_system COMMAND: runs COMMAND in the clone, with a newcomer's environment
  chroot "$system" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd $CLONE_DIR && $1"
}

start=$SECONDS
if in_system "bash scripts/run.sh" >"$log.run" 2>&1; then run_status=0; else run_status=$?; fi
echo "run (bash scripts/run.sh): $([[ $run_status -eq 0 ]] && echo passed || echo "failed with $run_status") in $((SECONDS - start)) s; log in $log.run"
[[ $run_status -eq 0 ]] || tail -n 20 "$log.run" | sed 's/^/    /'

echo "test (bash scripts/test.sh), log in $log.test:"
start=$SECONDS
set +e
in_system "bash scripts/test.sh" 2>&1 | tee "$log.test"
test_status=$?  # the test command's own, through pipefail (tee does not fail)
set -e
echo "test took $((SECONDS - start)) s" >>"$log.test"

unmount_all
if [[ $keep_system == no && $run_status -eq 0 && $test_status -eq 0 ]] &&
   ! grep -q " $system/" /proc/mounts; then
  rm -rf --one-file-system "$system"
fi
[[ $run_status -eq 0 ]] || exit "$run_status"
exit "$test_status"
