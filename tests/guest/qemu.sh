# shellcheck shell=bash
# Boots the test guest under full emulation (these machines' kernel runs no 32-bit code and
# KVM hangs at boot). Source this file, then:
#   guest_boot IMAGE_DIR INPUTS_DIR RESULTS_DIR TIMEOUT_S BIOS_VERSION keep|discard
# runs INPUTS_DIR/task.sh inside the guest (guest-init) with INPUTS_DIR shared read-only and
# RESULTS_DIR shared writable, and returns once the guest has powered off: 0 when the task ran
# and ended with 0, 1 otherwise, with the reason on one line of stderr. "discard" keeps every
# write to the disk in a scratch file, so the cached image stays as it was made; "keep" writes
# to the image (only while it is being made). The guest's console goes to RESULTS_DIR/console.log.
# BIOS_VERSION lands in the guest's SMBIOS tables, where Wine reads Win32_BIOS from.

readonly GUEST_CPU='max,-smap'  # with SMAP, a 32-bit program oopses the guest kernel
readonly GUEST_CORES=2
readonly GUEST_MEMORY_MB=4096
readonly GUEST_KILL_GRACE_S=10

guest_boot() {
  local image_dir=$1 inputs=$2 results=$3 timeout_s=$4 bios=$5 disk_mode=$6 status
  local snapshot=()
  [[ $disk_mode == discard ]] && snapshot=(-snapshot)
  mkdir -p "$results"
  rm -f "$results/task.rc"
  timeout --kill-after="$GUEST_KILL_GRACE_S" "$timeout_s" \
    qemu-system-x86_64 -accel tcg,thread=multi -cpu "$GUEST_CPU" -smp "$GUEST_CORES" \
      -m "$GUEST_MEMORY_MB" -display none -monitor none -no-reboot -nodefaults \
      -serial "file:$results/console.log" \
      -smbios "type=0,vendor=Norvik,version=$bios" \
      -kernel "$image_dir/vmlinuz" -initrd "$image_dir/initrd.img" \
      -append "root=/dev/vda rw init=/usr/local/sbin/guest-init console=ttyS0 panic=-1 quiet" \
      -drive "file=$image_dir/root.img,format=raw,if=virtio,cache=unsafe" "${snapshot[@]}" \
      -virtfs "local,path=$inputs,mount_tag=inputs,security_model=none,readonly=on" \
      -virtfs "local,path=$results,mount_tag=results,security_model=none" \
      </dev/null >"$results/qemu.log" 2>&1
  status=$?
  if ((status == 124 || status == 137)); then
    echo "guest: no power-off within ${timeout_s} s; stopped (console: $results/console.log)" >&2
    return 1
  fi
  if ((status != 0)); then
    echo "guest: qemu failed with status $status: $(tail -n 1 "$results/qemu.log")" >&2
    return 1
  fi
  if [[ ! -f $results/task.rc ]]; then
    echo "guest: the task never ended (console: $(tail -n 3 "$results/console.log" | tr '\n' ' '))" >&2
    return 1
  fi
  if [[ $(cat "$results/task.rc") != 0 ]]; then
    echo "guest: the task ended with status $(cat "$results/task.rc") (log: $results/task.log)" >&2
    return 1
  fi
}
