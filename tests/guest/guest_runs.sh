#!/usr/bin/env bash
# The guest stage: makes (or takes from the cache) the guest image, hands it the two updaters,
# their drivers and stand-ins and the checks, and boots it once per BIOS version the runs need:
#   RESULTS_DIR/main     BIOS 47K31RA9 (the capsule updates it): see runs.sh
#   RESULTS_DIR/refusal  BIOS 47K31RB4 (the capsule's own version): the refused update
# Exits 0 when the boots ran their runs to the end (the runs' verdicts are check.sh's);
# otherwise 1, with one line on stderr saying why.
#
# Usage: guest_runs.sh BUILD_DIR RESULTS_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/qemu.sh"
build=$(cd "${1:?usage: guest_runs.sh BUILD_DIR RESULTS_DIR}" && pwd)
results=${2:?usage: guest_runs.sh BUILD_DIR RESULTS_DIR}
readonly CACHE=${GUEST_CACHE_DIR:-$build/guest}
# One boot's bound: a stuck guest is stopped and the stage fails.
readonly BOOT_TIMEOUT_S=${GUEST_BOOT_TIMEOUT_S:-1800}
declare -rA BOOT_BIOS=([main]=47K31RA9 [refusal]=47K31RB4)
# GUEST_BOOTS=refusal, say, boots only that one again.
read -ra boots <<<"${GUEST_BOOTS:-main refusal}"

fail() { echo "guest stage: $*" >&2; exit 1; }
started=$SECONDS
image=$("$here/image.sh" "$CACHE") || fail "the guest image could not be made (reason above)"
echo "guest image $image ready after $((SECONDS - started)) s"

inputs=$CACHE/inputs
rm -rf "$inputs"
mkdir -p "$inputs/wine" "$inputs/guest" "$inputs/product/tools/fixtures" "$inputs/twin/tools/fixtures" "$results"
# This stage's name, which every run of its boots records: the checks judge only runs of the
# last stage, never a boot left from an earlier one.
stage_id="$(date -u +%Y%m%dT%H%M%SZ)-$$-$RANDOM"
echo "$stage_id" >"$inputs/stage"
echo "$stage_id" >"$results/stage"
stage() {  # stage DESTINATION FILE...
  local destination=$1 file
  shift
  for file in "$@"; do
    [[ -f $file ]] || fail "no $file; build first"
    cp "$file" "$destination/" || fail "cannot stage $file"
  done
}
stage "$inputs/wine" "$here"/../wine/*.sh
stage "$inputs/guest" "$here/update_facts.sh" "$here/view_facts.sh"
cp "$here/runs.sh" "$inputs/task.sh"
for updater in product:win32 twin:win64; do
  name=${updater%%:*} dir=$build/${updater#*:}
  # input_probe of the updater's width: with a 64-bit probe's hooks installed before the 32-bit
  # updater's, Wine here called none of them for any input while the updater's were in place
  # (a 32-bit probe sees exactly what the twin's 64-bit one sees beside the twin).
  stage "$inputs/$name" "$dir/BIOSUpdate.exe" "$dir/tools/wintest/wintest.exe" \
    "$dir/tools/wintest/input_probe.exe"
  stage "$inputs/$name/tools/fixtures" "$dir/tools/fixtures/powrprof.dll" \
    "$dir/tools/fixtures/recorder.exe" "$dir/tools/fixtures/Brindle.exe"
  # manage-bde is a 64-bit program in the 64-bit system folder, whatever the updater's width.
  stage "$inputs/$name/tools/fixtures" "$build/win64/tools/fixtures/manage-bde.exe"
done

for plan in "${boots[@]}"; do
  bios=${BOOT_BIOS[$plan]:-}
  [[ -n $bios ]] || fail "no boot $plan (${!BOOT_BIOS[*]})"
  echo "$plan" >"$inputs/plan"
  rm -rf "${results:?}/$plan"
  boot_started=$SECONDS
  guest_boot "$image" "$inputs" "$results/$plan" "$BOOT_TIMEOUT_S" "$bios" discard ||
    fail "the $plan boot (BIOS $bios) did not complete (reason above)"
  echo "guest boot $plan (BIOS $bios): $((SECONDS - boot_started)) s"
done
echo "guest stage: $((SECONDS - started)) s in all"
