#!/bin/sh
# Runs a Windows program under Wine without a display: the test runner puts
# this in front of every test program of the Windows build.
#
# The prefix's server is started as a persistent one and the prefix booted
# with every standard stream on /dev/null before the first program runs.
# Otherwise the first program starts Wine's background services, they inherit
# its output pipes and the test runner waits on them for ever. A lock keeps
# parallel test jobs from booting twice. The server ends a minute after the
# last program, or when `wineserver -k` stops it.
set -e

wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
  wine=$(command -v wine64 || command -v wine) || {
    echo "wine-run.sh: Wine is not installed (apt-get install wine wine64)" >&2
    exit 127
  }
fi

unset DISPLAY WAYLAND_DISPLAY
# A POSIX TZ such as Europe/Berlin is misread by the Windows C runtime;
# without it both sides take the local zone from the system.
unset TZ
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# Wine decodes arguments and file names with the Unix locale.
export LC_ALL=C.UTF-8

prefix="${WINEPREFIX:-$HOME/.wine}"
mkdir -p "$prefix"
# The server and the services outlive this script: they must not inherit the
# lock (descriptor 9) or any output stream.
(
  flock 9
  if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix/.tovrel-boot.lock"

exec "$wine" "$@"
