#!/usr/bin/env bash
# Proves that the README's two commands work on a fresh Debian 12 with nothing else installed:
# makes a minimal Debian 12 system with mmdebstrap in a folder, clones this project into it,
# runs `bash scripts/run.sh` and `bash scripts/test.sh` there, and reports the outcome of each.
# Not part of the test command: it downloads and installs a whole system (about 20 minutes).
#   usage: scripts/fresh-machine-check.sh [WORK_DIR]   (default: a new folder under /tmp)
# Needs root (mmdebstrap and chroot), and Debian's package mirror.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readonly SUITE=bookworm
readonly VARIANT=minbase
# What a developer's fresh machine has besides the base system: git to clone, and sudo-less
# root. Everything else must come from the project's own scripts.
readonly EXTRA_PACKAGES=git,ca-certificates
readonly CLONE_DIR=/root/biosupdate

work=${1:-$(mktemp -d /tmp/fresh-machine.XXXXXX)}
system="$work/system"
log="$work/log"
mkdir -p "$work"

if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap >/dev/null
fi

echo "Making a minimal Debian 12 in $system ..."
mmdebstrap --variant="$VARIANT" --include="$EXTRA_PACKAGES" "$SUITE" "$system" >"$log.mmdebstrap" 2>&1

mounts=()
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
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

run_in_system() {  # run_in_system LABEL COMMAND
  local label=$1 command=$2 start status
  start=$SECONDS
  if chroot "$system" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd $CLONE_DIR && $command" >"$log.$label" 2>&1; then status=passed; else status=failed; fi
  echo "$label: $status in $((SECONDS - start)) s; last lines of $log.$label:"
  tail -n 3 "$log.$label" | sed 's/^/    /'
  [[ $status == passed ]]
}

result=0
run_in_system run "bash scripts/run.sh" || result=1
run_in_system test "bash scripts/test.sh" || result=1
echo "fresh machine check: $([[ $result -eq 0 ]] && echo passed || echo failed) (logs in $work)"
exit "$result"
