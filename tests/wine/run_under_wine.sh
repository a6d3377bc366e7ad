#!/usr/bin/env bash
# Runs a Windows program under Wine the way the tests need it:
#
#     run_under_wine.sh <program.exe> [arguments...]
#
# The program's standard streams and exit status are its own. Exits 77 with a
# SKIP line when Wine is not installed.
#
# The Wine prefix is WINEPREFIX when set, else "wine-prefix" beside the program
# (so in its build folder). A new prefix is set up once, under a lock, so
# parallel runs share it: Wine's start-up programs are started with no pipe of
# ours (they outlive every run, and a caller waiting for a pipe's end would
# hang), "Consolas" and "Segoe UI" are replaced by Liberation fonts so that
# drawings look the same on every machine, and one wineserver stays up so
# that later runs skip Wine's start-up.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 <program.exe> [arguments...]" >&2
  exit 2
fi

# Debian's wine64 package keeps its programs in /usr/lib/wine, outside PATH.
tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
    if [ -x "/usr/lib/wine/$name" ]; then echo "/usr/lib/wine/$name"; return 0; fi
  done
  return 1
}
wine=$(tool wine64 wine) || { echo "SKIP: Wine is not installed (Debian package wine64)"; exit 77; }
server=$(tool wineserver64 wineserver) || { echo "SKIP: Wine is not installed (Debian package wine64)"; exit 77; }

exe=$1
shift
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="$(cd "$(dirname "$exe")" && pwd)/wine-prefix"
fi
export WINEPREFIX
export WINEDEBUG=-all
# Wine writes menus, caches and desktop links under HOME; keep them in the prefix.
export HOME="$WINEPREFIX/home"
# No Mono or Gecko installer, which would wait for a click.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

mkdir -p "$HOME"
ready="$WINEPREFIX/.netloom-ready"
# The server lingers this long after its last program ends (seconds).
linger=${NETLOOM_WINESERVER_LINGER:-600}

setup() {
  "$server" -p"$linger"
  "$wine" wineboot --init
  local key='HKCU\Software\Wine\Fonts\Replacements'
  "$wine" reg add "$key" /v "Consolas" /t REG_SZ /d "Liberation Mono" /f
  "$wine" reg add "$key" /v "Segoe UI" /t REG_SZ /d "Liberation Sans" /f
  "$wine" reg add "$key" /v "Courier New" /t REG_SZ /d "Liberation Mono" /f
  # A prefix made without a display gets Wine's null display driver. Without
  # it, a program started while Wine's desktop process is gone tries to bring
  # that up on X, fails, and waits on the RPC service twice for 10 s. Window
  # tests make their own prefix with DISPLAY set.
  if [ -z "${DISPLAY:-}" ]; then
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
  fi
  touch "$ready"
}

if [ ! -e "$ready" ]; then
  # flock serialises parallel first runs; the second finds the prefix ready.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -e "$ready" ]; then
    if ! setup </dev/null >"$WINEPREFIX.setup.log" 2>&1; then
      echo "Wine prefix setup failed; see $WINEPREFIX.setup.log" >&2
      exit 1
    fi
  fi
  flock -u 9
  exec 9>&-
fi

# A server that ended (it lingers only so long) is started again, with Wine's
# services, away from our pipes.
if ! "$server" -k0 2>/dev/null; then
  "$server" -p"$linger" </dev/null >/dev/null 2>&1 || true
  "$wine" wineboot </dev/null >/dev/null 2>&1 || true
fi

exec "$wine" "$exe" "$@"
