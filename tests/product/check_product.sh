#!/usr/bin/env bash
# Reads the product executable (32-bit; it cannot run on these machines) and its 64-bit twin,
# and checks the file itself: PE kind, imports, manifest, version, dialogs, pictures, payloads.
# usage: check_product.sh PRODUCT.exe TWIN.exe CAPSULE FLASH_TOOL RES_LIST
set -u
product=$1 twin=$2 capsule=$3 flash_tool=$4 res_list=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
has() {  # has NAME FILE PATTERN: the file holds the fixed text
  if grep -qF -- "$3" "$2"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); printf 'FAIL %s\n  missing: %s\n' "$1" "$3"; fi
}

# Only the known DLLs, which Windows always takes from its own folder. Anything else
# (libstdc++, libgcc, winpthread, comctl32, powrprof) could be loaded from beside the
# executable, where whoever could write the download folder may have put one: refused.
allowed='ADVAPI32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL OLEAUT32.DLL SHELL32.DLL SHLWAPI.DLL USER32.DLL'
check_imports() {  # check_imports LABEL EXE OBJDUMP
  local dll bad=""
  for dll in $("$3" -p "$2" | awk '/DLL Name:/ {print toupper($3)}'); do
    [[ " $allowed " == *" $dll "* ]] || bad="$bad $dll"
  done
  check "$1 imports only Windows DLLs" "" "$bad"
}

i686-w64-mingw32-objdump -p "$product" >"$work/product.hdr"
check "product is a 32-bit PE" "pei-i386" "$(i686-w64-mingw32-objdump -f "$product" | awk '/file format/ {print $4}')"
check "product is a GUI program" "00000002" "$(awk '/^Subsystem/ {print $2}' "$work/product.hdr")"
check_imports product "$product" i686-w64-mingw32-objdump
# Every function the product imports exists on Windows 7 SP1 as it ships: one missing import
# and the loader refuses the whole program before its first line.
win7_allowed="$(dirname "$0")/windows7_sp1_imports.txt"
newer=$(i686-w64-mingw32-objdump -p "$product" |
  awk '/DLL Name:/ {dll=toupper($3)} /^\t[0-9a-f]+\t +[0-9]+  / {print dll ":" $3}' |
  grep -vxF -f <(grep -v '^#' "$win7_allowed") | paste -sd' ')
check "product imports only what Windows 7 SP1 exports" "" "$newer"
check "twin is a 64-bit PE" "pei-x86-64" "$(x86_64-w64-mingw32-objdump -f "$twin" | awk '/file format/ {print $4}')"
check "twin is a GUI program" "00000002" "$(x86_64-w64-mingw32-objdump -p "$twin" | awk '/^Subsystem/ {print $2}')"
check_imports twin "$twin" x86_64-w64-mingw32-objdump

# Lean and reproducible: the shipped file is stripped (BIOSUpdate.debug.exe keeps the debug
# information), carries no link time, and without its resources stays within its budget.
readonly CODE_AND_DATA_BUDGET=307200   # bytes: 300 KB for the file without .rsrc
readonly PE_HEADER_POINTER=60          # where the MZ header keeps the PE header's offset
readonly COFF_TIME_STAMP=8             # from the PE header: TimeDateStamp
readonly COFF_SYMBOL_COUNT=16          # NumberOfSymbols
pe_u32() {  # pe_u32 EXE OFFSET: the 32-bit field at OFFSET from the PE header
  local pe
  pe=$(od -An -tu4 -j "$PE_HEADER_POINTER" -N4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + $2)) -N4 "$1" | tr -d ' '
}
check "product has no time stamp" 0 "$(pe_u32 "$product" "$COFF_TIME_STAMP")"
check "product has no symbols" 0 "$(pe_u32 "$product" "$COFF_SYMBOL_COUNT")"
i686-w64-mingw32-objdump -h "$product" >"$work/product.sections"
debug_sections=$(awk '$2 ~ /^\.debug/ {printf " %s", $2}' "$work/product.sections")
check "product has no debug sections" none "${debug_sections:-none}"
alignment=$((0x$(awk '/^FileAlignment/ {print $2}' "$work/product.hdr")))
rsrc_size=$((0x$(awk '$2 == ".rsrc" {print $3}' "$work/product.sections")))
rsrc_raw=$(( (rsrc_size + alignment - 1) / alignment * alignment ))
code_and_data=$(( $(stat -c %s "$product") - rsrc_raw ))
check "product without its resources: at most $CODE_AND_DATA_BUDGET bytes" "within" \
  "$([ "$code_and_data" -le "$CODE_AND_DATA_BUDGET" ] && echo within || echo "$code_and_data bytes")"

# Hardened as a security review's binary analyser requires, read by Debian's pefile (installed
# for Debian's own interpreter, hence /usr/bin/python3): each rule a check of its own.
pe_flags=$(dirname "$0")/pe_flags.py
hardening() {  # hardening LABEL EXE OBJDUMP
  local flags
  flags=$(/usr/bin/python3 "$pe_flags" "$2") || { check "$1 is read by pefile" read failed; return; }
  flag() { awk -v n="$1" '$1 == n {$1 = ""; sub(/^ /, ""); print}' <<<"$flags"; }
  check "$1 address-space randomisation (DYNAMIC_BASE)" yes "$(flag dynamic_base)"
  check "$1 relocations for the randomisation" yes "$(flag relocations)"
  check "$1 no-execute data (NX_COMPAT)" yes "$(flag nx_compat)"
  check "$1 terminal-server aware (TERMINAL_SERVER_AWARE)" yes "$(flag tsaware)"
  check "$1 no section both writable and executable" none "$(flag wx_sections)"
  # Stack protection leaves no flag: its mark is the canary check in the functions, read from
  # the debug copy (the very image, with its symbols) for the program's own namespaces.
  local protected
  protected=$("$3" -d "$(dirname "$2")/BIOSUpdate.debug.exe" |
    awk '/^[0-9a-f]+ <.*>:$/ {fn = $2} /call .*<_*__stack_chk_fail>/ {print fn}' | sort -u |
    grep -cE '^<_*(_ZN)?[0-9]*(app|update|guards|ui|win|win32)[0-9N]')
  check "$1 stack protection: the program's own functions check a canary" yes \
    "$([ "$protected" -gt 0 ] && echo yes || echo "none of them")"
  if [ "$4" == 64 ]; then
    check "$1 high-entropy addresses (HIGH_ENTROPY_VA)" yes "$(flag high_entropy_va)"
  else
    check "$1 safe exception handlers (NO_SEH or a SafeSEH table)" no-seh "$(flag safe_seh)"
  fi
}
hardening product "$product" i686-w64-mingw32-objdump 32
hardening twin "$twin" x86_64-w64-mingw32-objdump 64
# NO_SEH is a promise that nothing in the image, the run-time linked in included, registers a
# frame-based exception handler; on x86 that is done by pushing a record and writing its
# address to %fs:0, the head of the thread's handler chain. Not one instruction may touch that
# slot, or reach %fs through a register that could point at it.
seh_writes=$(i686-w64-mingw32-objdump -d "$product" |
  grep -E '%fs:(0x0([^0-9a-fx]|$)|\(|%)' | sed 's/^ *\([0-9a-f]*\):.*\t/\1 /' | paste -sd';')
check "product registers no frame-based exception handler (nothing touches %fs:0)" "" "$seh_writes"

i686-w64-mingw32-windres -i "$product" -O rc -o "$work/product.rc"
i686-w64-mingw32-windres -i "$product" -O res -o "$work/product.res"
"$res_list" "$work/product.res" >"$work/resources.txt"
resource() { awk -v t="$1" -v n="$2" '$1 == t && $2 == n {print $4 ($5 ? " " $5 : "")}' "$work/resources.txt" | head -1; }

# Manifest: elevation without UI access, DPI-aware.
has "manifest asks for administrator rights" "$work/product.rc" 'level=""requireAdministrator"" uiAccess=""false""'
has "manifest declares DPI awareness" "$work/product.rc" '>true</dpiAware>'
check "manifest is resource 24/1" "1" "$(awk '$1 == 24 && $2 == 1 {n++} END {print n+0}' "$work/resources.txt")"

# Version resource.
has "file version 1.15.0.0" "$work/product.rc" 'FILEVERSION 1, 15, 0, 0'
has "product version 1.15.0.0" "$work/product.rc" 'PRODUCTVERSION 1, 15, 0, 0'
for pair in 'FileVersion", "1.15.1002.2201' 'ProductVersion", "1.15.1002.2201' \
            'FileDescription", "BIOS Update Program' 'InternalName", "BIOSUpdate.exe' \
            'ProductName", "BIOS Update'; do
  has "version string ${pair%%\"*}" "$work/product.rc" "VALUE \"$pair\""
done

# The controller window's template in English and Korean.
dialog() {  # the lines of dialog 102 after a LANGUAGE line
  awk -v lang="$1" '/^LANGUAGE/ {cur=$0} /^102 DIALOGEX/ && cur == lang {on=1} on {print} on && /^END/ {exit}' "$work/product.rc"
}
english=$(dialog 'LANGUAGE 9, 1')
korean=$(dialog 'LANGUAGE 18, 1')
for variant in english korean; do
  text=${!variant}
  check "$variant dialog 102 exists at 0,0 sized 301x49" "102 DIALOGEX 0, 0, 301, 49" "$(head -1 <<<"$text")"
  check "$variant dialog style" "STYLE 0x90000040" "$(grep '^STYLE' <<<"$text")"
  check "$variant dialog extended style" "EXSTYLE 0x40000" "$(grep '^EXSTYLE' <<<"$text")"
  check "$variant dialog has no caption and no controls" "0" "$(grep -c -E '^CAPTION|CONTROL|PUSHBUTTON|LTEXT' <<<"$text")"
done
check "english dialog font" 'FONT 8, "Tahoma", 400, 0, 0' "$(grep '^FONT' <<<"$english")"
check "korean dialog font is Hangul" '400, 0, 129' "$(grep '^FONT' <<<"$korean" | sed 's/^FONT 8, "[^"]*", //')"

# Pictures and icon.
check "icon group 128" "1" "$(awk '$1 == 14 && $2 == 128 {n++} END {print n+0}' "$work/resources.txt")"
check "progress mark 132 is 22x9 16 colours" "212 22x9x4" "$(resource 2 132)"
check "Korean picture 134 is 640x480 24-bit" "921640 640x480x24" "$(resource 2 134)"
check "English picture 135 is 640x480 24-bit" "921640 640x480x24" "$(resource 2 135)"

# Payloads, byte for byte.
"$res_list" "$work/product.res" --dump '"FILE"' 172 "$work/172" && \
  check "payload 172 is the flash tool" "same" "$(cmp -s "$work/172" "$flash_tool" && echo same)"
"$res_list" "$work/product.res" --dump '"FILE"' 177 "$work/177" && \
  check "payload 177 is the capsule" "same" "$(cmp -s "$work/177" "$capsule" && echo same)"
check "capsule is 4259920 bytes" "4259920" "$(stat -c %s "$work/177" 2>/dev/null)"

tally
