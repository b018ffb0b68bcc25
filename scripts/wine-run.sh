#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh <prefix folder> <program> [arguments...].
# The prefix is created on first use. A server kept alive between runs makes each start take a
# tenth of a second instead of seconds. The server and Wine's own helper processes are started
# with their output sent away: started by the program, they would inherit its output, and a caller
# reading that output to its end would wait for them.
set -euo pipefail
mkdir -p "$1"
WINEPREFIX=$(cd "$1" && pwd)  # Wine takes only an absolute prefix
export WINEPREFIX
shift
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" PATH="/usr/lib/wine:$PATH"

(
  flock 9
  if wineserver -p60 >/dev/null 2>&1 </dev/null 9>&-; then
    if [ -f "$WINEPREFIX/.ready" ]; then
      wine64 cmd /c exit >/dev/null 2>&1 </dev/null 9>&-
    else
      wine64 wineboot --init >/dev/null 2>&1 </dev/null 9>&-
      touch "$WINEPREFIX/.ready"
    fi
  fi
) 9>"$WINEPREFIX.lock"

# The desktop process cannot be started ahead like the others: the first program that needs a
# window (COM, pictures) starts it, and it ends only when no program has used the desktop for a
# second, with programs run back to back minutes later. It keeps the Unix standard error of the
# program that started it (Wine hands that to every process it starts), and a caller reading it from
# a pipe to its end (CTest) would wait all that time, past a test's time limit. So standard error,
# unless a terminal, goes to a file that is copied out as it grows until the program has ended.
# (A job started with & would read /dev/null.)
if [ -t 2 ]; then
  exec wine64 "$@"
fi
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
wine64 "$@" <&0 2>"$errors" &
program=$!
tail -s 0.1 -c +1 -f --pid="$program" "$errors" >&2 &
status=0
wait "$program" || status=$?
wait
exit "$status"
