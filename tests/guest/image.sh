#!/usr/bin/env bash
# Makes the test guest's disk image once and keeps it: a Debian 12 amd64 root from Debian's
# packages (packages.txt), fetched through the machine's own apt sources, with guest-init as its
# init and the Wine prefixes of bake.sh made in it by one boot. The image lives in
# CACHE_DIR/image-<key>, the key a hash of the package list and of the scripts that make it, so
# a change to any of them makes a new image; older images are removed. Prints the image's folder.
#
# Usage: image.sh CACHE_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/qemu.sh"
readonly APT_SOURCES_SCRIPT=$here/../../scripts/apt_sources.sh
source "$APT_SOURCES_SCRIPT"

readonly SUITE=bookworm
# Room for the root (about 2.2 GB) and the two prefixes; the file is sparse.
readonly DISK_SIZE=8G
readonly BAKE_TIMEOUT_S=1200
readonly BAKE_BIOS=none

fail() { echo "guest image: $*" >&2; exit 1; }

cache=${1:?usage: image.sh CACHE_DIR}
mkdir -p "$cache" && cache=$(cd "$cache" && pwd) || fail "cannot make $cache"
# lib.sh, staged for the bake, only starts its Xvfb: nothing of it lands in the image.
key=$(cat "$here/packages.txt" "$here/image.sh" "$here/guest-init" "$here/bake.sh" "$here/qemu.sh" \
  "$APT_SOURCES_SCRIPT" |
  sha256sum | cut -c1-16)
image=$cache/image-$key
if [[ -f $image/ready ]]; then
  echo "$image"
  exit 0
fi

for tool in mmdebstrap mkfs.ext4 qemu-system-x86_64; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing (scripts/install-deps.sh installs qemu-system-x86, mmdebstrap, e2fsprogs)"
done
find "$cache" -maxdepth 1 -name 'image-*' ! -name "image-$key" -exec rm -rf {} +
rm -rf "$image"
mkdir -p "$image"
work=$image/work
root=$work/root
mkdir -p "$work"
started=$SECONDS

mapfile -t sources < <(apt_sources_files)
[[ ${#sources[@]} -gt 0 ]] ||
  fail "the machine has no apt sources ($APT_SOURCES_LIST or $APT_SOURCES_PARTS) to make the root from"
mapfile -t packages < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$here/packages.txt")
echo "guest image: mmdebstrap ${#packages[@]} packages into $root" >&2
if ! mmdebstrap --variant=apt --architectures=amd64,i386 --include="$(IFS=,; echo "${packages[*]}")" \
  --customize-hook="install -m 0755 '$here/guest-init' \"\$1/usr/local/sbin/guest-init\"" \
  "$SUITE" "$root" "${sources[@]}" </dev/null >"$work/mmdebstrap.log" 2>&1; then
  fail "mmdebstrap could not make the root from the machine's apt sources: $(grep -m1 -E '^(E:|W: .*[Ff]ail)' "$work/mmdebstrap.log" || tail -n 1 "$work/mmdebstrap.log")"
fi
echo "guest image: root made in $((SECONDS - started)) s ($(du -sh "$root" | cut -f1))" >&2

kernel=$(ls "$root"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)
initrd=$(ls "$root"/boot/initrd.img-* 2>/dev/null | sort -V | tail -n 1)
[[ -n $kernel && -n $initrd ]] || fail "the root has no kernel and initrd in /boot"
cp "$kernel" "$image/vmlinuz" && cp "$initrd" "$image/initrd.img" || fail "cannot copy the kernel"
mkfs.ext4 -q -F -L guest -d "$root" "$image/root.img" "$DISK_SIZE" >"$work/mkfs.log" 2>&1 ||
  fail "mkfs.ext4 -d failed: $(tail -n 1 "$work/mkfs.log")"
rm -rf "$root"
echo "guest image: disk made at $((SECONDS - started)) s" >&2

mkdir -p "$work/inputs" "$work/results"
cp "$here/bake.sh" "$work/inputs/task.sh" && cp "$here/../wine/lib.sh" "$work/inputs/lib.sh" || fail "cannot stage bake.sh"
guest_boot "$image" "$work/inputs" "$work/results" "$BAKE_TIMEOUT_S" "$BAKE_BIOS" keep ||
  fail "the prefixes could not be made in the guest: $(tail -n 3 "$work/results/task.log" 2>/dev/null | tr '\n' ' ')"
cat "$work/results/task.log" >&2
echo "guest image: ready in $((SECONDS - started)) s" >&2
rm -rf "$work"
touch "$image/ready"
echo "$image"
