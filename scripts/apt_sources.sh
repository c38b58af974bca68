# shellcheck shell=bash
# The machine's own apt sources, for mmdebstrap to paste into a root it makes: each machine
# reaches its package registry through its own apt configuration, so a root made here asks the
# same registry, with the same suites and keys, and nothing names a host of its own.
readonly APT_SOURCES_LIST=/etc/apt/sources.list
readonly APT_SOURCES_PARTS=/etc/apt/sources.list.d

# Prints, one a line, the sources files that exist and are not empty: the main list first, then
# the parts' *.list files and their *.sources files. Fails when there is none.
apt_sources_files() {
  local file found=1
  for file in "$APT_SOURCES_LIST" "$APT_SOURCES_PARTS"/*.list "$APT_SOURCES_PARTS"/*.sources; do
    [[ -f $file && -s $file ]] || continue
    echo "$file"
    found=0
  done
  return "$found"
}
