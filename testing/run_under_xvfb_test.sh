#!/bin/sh
# Twelve runs of run_under_xvfb.sh started together, three rounds: each must
# see its own server (its own screen size) for its whole life, and no server
# may outlive its run.
set -u
here=$(dirname "$0")
for tool in Xvfb xdotool; do
  command -v $tool >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/xvfb-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fails=0
for round in 1 2 3; do
  for i in 1 2 3 4 5 6 7 8 9 10 11 12; do
    width=$((800 + i))
    timeout 60 sh "$here/run_under_xvfb.sh" "${width}x600x24" \
      sh -c 'xdotool getdisplaygeometry; sleep 0.5; xdotool getdisplaygeometry; echo "$DISPLAY"' \
      >"$work/$i.out" 2>&1 &
  done
  wait
  for i in 1 2 3 4 5 6 7 8 9 10 11 12; do
    width=$((800 + i))
    if [ "$(grep -c "^$width 600\$" "$work/$i.out")" -ne 2 ]; then
      echo "round $round, run $i:" >&2
      cat "$work/$i.out" >&2
      fails=$((fails + 1))
    fi
  done
done
# A status is handed back, and a killed run takes its server with it.
sh "$here/run_under_xvfb.sh" 640x480x24 sh -c 'exit 7'
[ $? -eq 7 ] || { echo "exit status not handed back" >&2; fails=$((fails + 1)); }
sh "$here/run_under_xvfb.sh" 640x480x24 sh -c 'echo "$DISPLAY" > "$0"; sleep 30' "$work/killed" &
runner=$!
i=0
while [ ! -s "$work/killed" ] && [ $i -lt 300 ]; do i=$((i + 1)); sleep 0.1; done
kill -TERM $runner
wait $runner
gone=no
i=0
while [ $i -lt 50 ]; do
  DISPLAY=$(cat "$work/killed") xdotool getdisplaygeometry >/dev/null 2>&1 || { gone=yes; break; }
  i=$((i + 1))
  sleep 0.1
done
[ $gone = yes ] || { echo "server outlived a killed run" >&2; fails=$((fails + 1)); }
[ $fails -eq 0 ]
