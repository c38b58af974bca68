# shellcheck shell=bash
# Private Wine prefixes for the end-to-end tests and for running the updater by hand.
#
# Source this file, then:
#   wine_prefix_create STATE_DIR   new 64-bit prefix + its own Xvfb; writes STATE_DIR/env.sh
#   wine_use STATE_DIR             take over a prefix made earlier (sources env.sh)
#   wine_locale LOCALE|default     restart the prefix's wineserver in that locale
#   wine_exec ARGS...              wine64 ARGS... in the prefix; returns its exit code
#   wine_driver ARGS...            wintest.exe ($WINTEST_EXE) ARGS... in the prefix
#   wine_win_path UNIX_PATH        prints the Windows (Z:\...) form of a path
#   wine_log_tail [LINES]          the end of the prefix's logs, for a failure report
#   wine_prefix_destroy STATE_DIR  stops Wine and Xvfb, removes STATE_DIR
#   wine_xvfb_start STATE_DIR      an Xvfb of its own on the first free display (its log in
#                                  STATE_DIR); sets WINE_XVFB_DISPLAY and WINE_XVFB_PID
#   wine_prefix_adopt STATE_DIR win64|win32
#                                  takes STATE_DIR/prefix, made elsewhere (a copy of a baked
#                                  one), as a prefix of that kind on the Xvfb of
#                                  WINE_XVFB_DISPLAY and WINE_XVFB_PID: writes env.sh, uses it
#                                  and starts its wineserver
#   wine_server_stop               stops every Wine process of the prefix in use
#
# Wine and Xvfb write into STATE_DIR/wine.log and STATE_DIR/xvfb.log, never to the
# terminal; a program's own stdout is passed through (its stderr goes to wine.log, and
# its stdin is /dev/null). Settings read from the environment: XVFB_SCREEN (default
# 1024x768x24) and WINE_XVFB_WAIT_S (default 10; an emulated machine needs more).

WINE_LOADER_BIN=/usr/lib/wine/wine64
# The 32-bit loader, for a prefix of a 32-bit Windows (WINEARCH=win32).
WINE_LOADER_BIN_32=/usr/lib/wine/wine
# The real server, not Debian's wrapper script, which forces "-p0" (exit as soon as
# the last program ends) and so a restart of the server for every test step.
WINE_SERVER_BIN=/usr/lib/wine/wineserver64
WINE_FIRST_DISPLAY=90
WINE_LAST_DISPLAY=189
WINE_XVFB_WAIT_S=${WINE_XVFB_WAIT_S:-10}
WINE_XVFB_POLL_S=0.05
WINE_STOP_WAIT_S=30
# How long an idle wineserver stays up before it exits on its own.
WINE_SERVER_IDLE_S=300
WINE_STATE_MARK=.wine-test-state

_wine_fail() {
  echo "wine lib: $*" >&2
  return 1
}

_wine_require_prefix() {
  [[ -n "${WINEPREFIX:-}" && -n "${WINE_STATE_DIR:-}" ]] ||
    _wine_fail "no prefix in use: wine_prefix_create or wine_use first"
}

# Whether a process runs: exists and is not a zombie (one that exited but whose new
# parent has not reaped it yet still answers kill -0).
_wine_running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [[ "${stat:0:1}" != Z ]]
}

# Whether display :N is served by the Xvfb with process id PID: its socket is there
# and its lock file names that process.
_wine_xvfb_serves() {
  local n="$1" pid="$2"
  [[ -S "/tmp/.X11-unix/X${n}" && "$(tr -d ' \n' <"/tmp/.X${n}-lock" 2>/dev/null)" == "$pid" ]]
}

# Starts Xvfb on the first free display from :90 up and waits for its socket.
# Sets WINE_XVFB_DISPLAY and WINE_XVFB_PID.
_wine_start_xvfb() {
  local state="$1" screen="${XVFB_SCREEN:-1024x768x24}" n pid polls
  for ((n = WINE_FIRST_DISPLAY; n <= WINE_LAST_DISPLAY; n++)); do
    [[ -e "/tmp/.X${n}-lock" || -e "/tmp/.X11-unix/X${n}" ]] && continue
    echo "== Xvfb :$n -screen 0 $screen" >>"$state/xvfb.log"
    # Started from a subshell in a session of its own: not a job of the caller, whose
    # plain `wait` would otherwise wait for it, and outliving the caller for later
    # scripts that `wine_use` the prefix.
    pid=$(setsid Xvfb ":$n" -screen 0 "$screen" -nolisten tcp \
      </dev/null >>"$state/xvfb.log" 2>&1 & echo $!)
    # Another test may have taken the same number a moment earlier: then this Xvfb
    # exits on the lock, and the next number is tried.
    polls=$(awk -v s="$WINE_XVFB_WAIT_S" -v p="$WINE_XVFB_POLL_S" 'BEGIN { print int(s / p) }')
    while ((polls-- > 0)) && _wine_running "$pid" && ! _wine_xvfb_serves "$n" "$pid"; do
      sleep "$WINE_XVFB_POLL_S"
    done
    if _wine_running "$pid" && _wine_xvfb_serves "$n" "$pid"; then
      WINE_XVFB_DISPLAY=":$n"
      WINE_XVFB_PID=$pid
      return 0
    fi
    kill "$pid" 2>/dev/null
    _wine_wait_exit "$pid" "$WINE_STOP_WAIT_S"
  done
  _wine_fail "no free X display between :$WINE_FIRST_DISPLAY and :$WINE_LAST_DISPLAY"
}

# Waits, at most SECONDS, until process PID has ended.
_wine_wait_exit() {
  local pid="$1" polls
  polls=$(awk -v s="$2" -v p="$WINE_XVFB_POLL_S" 'BEGIN { print int(s / p) }')
  while ((polls-- > 0)) && _wine_running "$pid"; do sleep "$WINE_XVFB_POLL_S"; done
  ! _wine_running "$pid"
}

_wine_write_env() {
  local state="$1" arch="${2:-win64}" loader="$WINE_LOADER_BIN"
  [[ $arch == win32 ]] && loader=$WINE_LOADER_BIN_32
  {
    echo "# Wine test prefix; source this file to use it."
    printf 'export WINE_STATE_DIR=%q\n' "$state"
    printf 'export WINEPREFIX=%q\n' "$state/prefix"
    printf 'export WINEARCH=%q\n' "$arch"
    echo "export WINEDEBUG=-all"
    printf 'export DISPLAY=%q\n' "$WINE_XVFB_DISPLAY"
    printf 'export WINELOADER=%q\n' "$loader"
    printf 'export WINESERVER=%q\n' "$WINE_SERVER_BIN"
    printf 'export WINE_XVFB_PID=%q\n' "$WINE_XVFB_PID"
    echo "# The locale the prefix's wineserver runs in, set by wine_locale."
    echo "[[ -f \"\$WINE_STATE_DIR/locale.sh\" ]] && source \"\$WINE_STATE_DIR/locale.sh\""
    echo "true"
  } >"$state/env.sh"
}

# Starts the prefix's wineserver with the current environment (and so locale), its
# output in the log, and waits until it answers.
_wine_start_server() {
  "$WINESERVER" -p"$WINE_SERVER_IDLE_S" </dev/null >>"$WINE_STATE_DIR/wine.log" 2>&1 ||
    _wine_fail "wineserver did not start"
}

# Stops every Wine process of the prefix and waits, bounded, for the server to go.
_wine_stop_server() {
  "$WINESERVER" -k >>"$WINE_STATE_DIR/wine.log" 2>&1
  timeout "$WINE_STOP_WAIT_S" "$WINESERVER" -w >>"$WINE_STATE_DIR/wine.log" 2>&1 ||
    _wine_fail "wineserver did not stop within ${WINE_STOP_WAIT_S}s"
}

wine_prefix_create() {
  local state="${1:?usage: wine_prefix_create STATE_DIR}"
  mkdir -p "$state" || return 1
  state=$(cd "$state" && pwd) || return 1
  touch "$state/$WINE_STATE_MARK"
  _wine_start_xvfb "$state" || { wine_log_tail 20 "$state" >&2; return 1; }
  _wine_write_env "$state"
  wine_use "$state" || return 1
  echo "== wineboot -i" >>"$state/wine.log"
  # No Mono or Gecko: the programs under test need neither, and their installers
  # would open dialogs.
  if ! WINEDLLOVERRIDES="mscoree=;mshtml=" "$WINELOADER" wineboot -i \
    </dev/null >>"$state/wine.log" 2>&1; then
    wine_log_tail 20 >&2
    _wine_fail "wineboot -i failed in $WINEPREFIX"
    return 1
  fi
  # Windows Wine draws itself, frame and caption included, as on Windows. Left to a
  # window manager (there is none on Xvfb) they would have no caption, and hiding one
  # would wait 2 s for the manager: every closing message box would take that long.
  "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >>"$state/wine.log" 2>&1 || {
    wine_log_tail 20 >&2
    _wine_fail "cannot set the X11 driver to unmanaged windows"
    return 1
  }
  timeout "$WINE_STOP_WAIT_S" "$WINESERVER" -w >>"$state/wine.log" 2>&1 ||
    { _wine_fail "wineserver did not finish after wineboot"; return 1; }
  _wine_start_server
}

wine_use() {
  local state="${1:?usage: wine_use STATE_DIR}"
  [[ -f "$state/env.sh" ]] || _wine_fail "no $state/env.sh" || return 1
  # shellcheck source=/dev/null
  source "$state/env.sh"
}

# Makes LOCALE (NAME.CHARSET) known to the C library, compiling it into the state
# dir when the machine lacks it. Wine answers GetSystemDefaultLangID and GetACP from
# LC_ALL alone, but converts command lines, environment and file names with the C
# library's charset, which for a missing locale is 7-bit ASCII: Korean arguments
# would arrive with their high bits cut off.
_wine_glibc_locale() {
  local locale="$1" dir="$WINE_STATE_DIR/locale"
  [[ -z "$(LC_ALL="$locale" locale 2>&1 >/dev/null)" ]] && return 0
  if [[ ! -d "$dir/$locale" ]]; then
    mkdir -p "$dir"
    # localedef may exit non-zero over warnings yet write the locale: judge by that.
    localedef -i "${locale%%.*}" -f "${locale#*.}" "$dir/$locale" >>"$WINE_STATE_DIR/wine.log" 2>&1
  fi
  if [[ ! -d "$dir/$locale" ]]; then
    echo "wine lib: cannot compile the C library locale $locale (Debian package locales);" \
      "non-ASCII arguments will not reach Wine programs intact" >&2
    return 0
  fi
  export LOCPATH="$dir"
}

# Restarts the prefix's wineserver, and so all its programs, in LOCALE (e.g.
# ko_KR.UTF-8) or, with "default", with LC_ALL and LANG unset. Every program of the
# prefix then runs in the same locale, so text read from another program's windows
# converts the same way. Recorded in the state dir for later `wine_use`.
wine_locale() {
  local locale="${1:?usage: wine_locale LOCALE|default}"
  _wine_require_prefix || return 1
  _wine_stop_server || return 1
  # bash warns when LC_ALL names a locale it cannot load; that is expected here.
  if [[ "$locale" == default ]]; then
    unset LC_ALL LANG LOCPATH 2>/dev/null
    echo "unset LC_ALL LANG LOCPATH 2>/dev/null" >"$WINE_STATE_DIR/locale.sh"
  else
    unset LOCPATH
    _wine_glibc_locale "$locale"
    export LC_ALL="$locale" LANG="$locale" 2>/dev/null
    {
      printf 'export LC_ALL=%q LANG=%q' "$locale" "$locale"
      [[ -n "${LOCPATH:-}" ]] && printf ' LOCPATH=%q' "$LOCPATH"
      printf ' 2>/dev/null\n'
    } >"$WINE_STATE_DIR/locale.sh"
  fi
  echo "== locale $locale" >>"$WINE_STATE_DIR/wine.log"
  _wine_start_server
}

wine_exec() {
  _wine_require_prefix || return 1
  echo "== wine64 $*" >>"$WINE_STATE_DIR/wine.log"
  "$WINELOADER" "$@" </dev/null 2>>"$WINE_STATE_DIR/wine.log"
}

wine_driver() {
  [[ -n "${WINTEST_EXE:-}" && -f "$WINTEST_EXE" ]] ||
    _wine_fail "WINTEST_EXE does not name the built wintest.exe" || return 1
  wine_exec "$WINTEST_EXE" "$@"
}

wine_win_path() {
  local path="${1:?usage: wine_win_path UNIX_PATH}"
  path=$(realpath -m -- "$path") || return 1
  printf 'Z:%s\n' "${path//\//\\}"
}

# The last LINES lines (default 40) of the prefix's logs.
wine_log_tail() {
  local lines="${1:-40}" state="${2:-${WINE_STATE_DIR:-}}" log
  for log in "$state/xvfb.log" "$state/wine.log"; do
    [[ -s "$log" ]] || continue
    echo "--- last $lines lines of $log"
    tail -n "$lines" "$log"
  done
}

wine_prefix_destroy() {
  local state="${1:?usage: wine_prefix_destroy STATE_DIR}" pid
  [[ -d "$state" ]] || return 0
  [[ -f "$state/$WINE_STATE_MARK" ]] ||
    _wine_fail "$state was not made by wine_prefix_create; not removing it" || return 1
  if [[ -f "$state/env.sh" ]]; then
    # A subshell, so the caller's own environment stays as it was.
    (
      wine_use "$state" &&
        { [[ ! -d "$WINEPREFIX" ]] || _wine_stop_server; }
    )
    pid=$(sed -n 's/^export WINE_XVFB_PID=//p' "$state/env.sh")
    if [[ -n "$pid" && "$(cat "/proc/$pid/comm" 2>/dev/null)" == Xvfb ]]; then
      kill "$pid" 2>/dev/null
      _wine_wait_exit "$pid" "$WINE_STOP_WAIT_S"
    fi
  fi
  rm -rf -- "$state"
}

wine_xvfb_start() {
  local state="${1:?usage: wine_xvfb_start STATE_DIR}"
  mkdir -p "$state" && _wine_start_xvfb "$state"
}

wine_prefix_adopt() {
  local state="${1:?usage: wine_prefix_adopt STATE_DIR win64|win32}" arch="${2:?}"
  [[ -d "$state/prefix" ]] || _wine_fail "no prefix in $state" || return 1
  [[ -n "${WINE_XVFB_DISPLAY:-}" && -n "${WINE_XVFB_PID:-}" ]] ||
    _wine_fail "no Xvfb: wine_xvfb_start first" || return 1
  touch "$state/$WINE_STATE_MARK"
  _wine_write_env "$state" "$arch"
  wine_use "$state" && _wine_start_server
}

wine_server_stop() {
  _wine_require_prefix || return 1
  _wine_stop_server
}
