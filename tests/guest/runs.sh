#!/usr/bin/env bash
# Inside the guest (guest-init runs it as the inputs' task.sh): the runs of the 32-bit product
# and of its 64-bit twin, the two side by side, each run on a fresh copy (an overlay) of a
# prefix baked into the image. The inputs' "plan" names the runs of this boot:
#   main     the whole update, the existing No-answer and clean-up checks, the clean-up in
#            both registry views, the 64-bit gate in the 32-bit prefix
#   refusal  the update on a BIOS that the capsule does not update
# Every run leaves RESULTS/<updater>/<run>/: its output, its exit status, and what it
# saw (facts, screenshots); the host's check.sh judges them. Nothing here measures time.
set -uo pipefail
readonly INPUTS=/mnt/inputs
readonly RESULTS=/mnt/results
readonly BAKED=/opt/wine
readonly STATES=/run/guest
readonly WINE=$INPUTS/wine
readonly GUEST=$INPUTS/guest
# Xvfb under emulation takes its time.
export WINE_XVFB_WAIT_S=120
# Bounds on waiting, not measurements: the emulated machine is many times slower than the host,
# and more again on a loaded one (a whole update, run beside the other file's, once took 12 min).
export WINE_WAIT_MS=180000 WINE_RUN_TIMEOUT_MS=900000

source "$WINE/lib.sh"
plan=$(cat "$INPUTS/plan")
out=$RESULTS
mkdir -p "$out" "$STATES"
echo "plan $plan; BIOS version in the firmware tables: $(cat /sys/class/dmi/id/bios_version)"

# in_prefix LANE RUN BAKED_PREFIX DISPLAY XVFB_PID CMD...: CMD with a state dir (first argument
# of CMD) whose prefix is a fresh copy of the baked one and whose wineserver runs; CMD's
# output and status land in the run's results folder.
in_prefix() {
  local lane=$1 run=$2 baked=$3 display=$4 xvfb_pid=$5 state dir status
  shift 5
  state=$STATES/$lane-$run
  dir=$out/$lane/$run
  mkdir -p "$state/upper" "$state/work" "$state/prefix" "$dir"
  mount -t overlay overlay \
    -o "lowerdir=$BAKED/$baked,upperdir=$state/upper,workdir=$state/work" "$state/prefix" || {
    echo "cannot make an overlay of $baked" >"$dir/output"
    echo 1 >"$dir/status"
    return
  }
  # The 32-bit prefix is a 32-bit Windows; the other one is 64-bit.
  local arch=win64
  [[ $baked == win32 ]] && arch=win32
  (WINE_XVFB_DISPLAY=$display WINE_XVFB_PID=$xvfb_pid && wine_prefix_adopt "$state" "$arch")
  # Which boot and stage made the run, and which file it judged.
  echo "$plan" >"$dir/boot"
  cp "$INPUTS/stage" "$dir/stage"
  sha256sum <"$INPUTS/$lane/BIOSUpdate.exe" | cut -d' ' -f1 >"$dir/updater.sha256"
  echo "== $lane $run ($(date -u +%T))"
  "$@" "$state" "$dir" >"$dir/output" 2>&1
  status=$?
  echo "$status" >"$dir/status"
  echo "== $lane $run: status $status ($(date -u +%T))"
  (wine_use "$state" && wine_server_stop) >/dev/null 2>&1
  umount "$state/prefix"
  rm -rf "$state"
}

# The existing end-to-end checks, run unchanged on either updater.
wine_check() {  # wine_check NAME UPDATER_DIR STATE DIR
  bash "$WINE/$1.sh" "$3" "$2/BIOSUpdate.exe" "$INPUTS/twin/wintest.exe"
}
update_facts() {  # update_facts UPDATER_DIR STATE DIR
  bash "$GUEST/update_facts.sh" "$2" "$1/BIOSUpdate.exe" "$INPUTS/twin/wintest.exe" "$3" \
    "$1/input_probe.exe"
}
view_facts() {  # view_facts UPDATER_DIR DRIVER STATE DIR
  bash "$GUEST/view_facts.sh" "$3" "$1/BIOSUpdate.exe" "$2" "$4"
}

lane() {  # lane NAME DISPLAY XVFB_PID
  local name=$1 display=$2 xvfb=$3 updater=$INPUTS/$1
  if [[ $name == product ]]; then
    # What a 32-bit program sees on 64-bit Windows.
    export UPDATER_PROGRAM_FILES='Program Files (x86)' UPDATER_REG_VIEW=32 FIXTURES_SYSTEM_FOLDER=syswow64
  fi
  case $plan in
    main)
      in_prefix "$name" update wow64 "$display" "$xvfb" update_facts "$updater"
      in_prefix "$name" answer_no wow64 "$display" "$xvfb" wine_check update_mode_no "$updater"
      in_prefix "$name" cleanup_mode wow64 "$display" "$xvfb" wine_check cleanup_mode "$updater"
      in_prefix "$name" views wow64 "$display" "$xvfb" view_facts "$updater" "$updater/wintest.exe"
      in_prefix "$name" gate win32 "$display" "$xvfb" view_facts "$updater" "$INPUTS/product/wintest.exe"
      ;;
    refusal)
      in_prefix "$name" update wow64 "$display" "$xvfb" update_facts "$updater"
      ;;
    *) echo "unknown plan $plan"; return 1 ;;
  esac
  kill "$xvfb"
}

# The displays one after the other: two X servers starting at once race to make the socket
# folder, and one of them gives up.
mkdir -p -m 1777 /tmp/.X11-unix
wine_xvfb_start "$out/xvfb-product" || exit 1
lane product "$WINE_XVFB_DISPLAY" "$WINE_XVFB_PID" >"$out/product.log" 2>&1 &
product=$!
wine_xvfb_start "$out/xvfb-twin" || exit 1
lane twin "$WINE_XVFB_DISPLAY" "$WINE_XVFB_PID" >"$out/twin.log" 2>&1 &
twin=$!
status=0
wait "$product" || status=1
wait "$twin" || status=1
cat "$out/product.log" "$out/twin.log"
exit "$status"
