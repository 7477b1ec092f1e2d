#!/bin/sh
# run_under_xvfb.sh WIDTHxHEIGHTxDEPTH COMMAND [ARG...]
# Runs COMMAND under a private Xvfb and exits with its status. The server
# picks its own free display (-displayfd) and takes the display's lock
# atomically, so runs started side by side never share or race for one (as
# `xvfb-run -a`, which picks the number before the server starts, can).
set -u
screen="$1"
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/xvfb.XXXXXX") || exit 125
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$work/display" 2>"$work/log" &
server=$!
# The server writes its display number once it accepts clients; wait at most 30 s.
i=0
while ! grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
  i=$((i + 1))
  if [ $i -gt 300 ] || ! kill -0 $server 2>/dev/null; then
    echo "run_under_xvfb: Xvfb did not start" >&2
    cat "$work/log" >&2
    kill $server 2>/dev/null
    rm -rf "$work"
    exit 125
  fi
  sleep 0.1
done
DISPLAY=":$(cat "$work/display")"
export DISPLAY
unset XAUTHORITY
# The command runs as a child so that a time-out's signal ends it and the
# server instead of leaving the server behind.
"$@" &
child=$!
trap 'kill $child $server 2>/dev/null; rm -rf "$work"; exit 143' TERM INT HUP
wait $child
status=$?
trap - TERM INT HUP
kill $server 2>/dev/null
wait $server 2>/dev/null
rm -rf "$work"
exit $status
