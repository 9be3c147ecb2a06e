#!/usr/bin/env bash
# Starts the real program in an empty folder (none of the loose TGA and OIA files), checks that it
# reports the three missing meshes, keeps running, and quits with status 0 on the q key.
set -u
exe=$1
if [ -z "${DISPLAY:-}" ]; then
  echo "no X display"; exit 1
fi
command -v xdotool >/dev/null || { echo "xdotool is missing"; exit 1; }
work=$(mktemp -d /tmp/parkhaus-nofiles-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The program's window is the "Parkhaus" window that was not there before it started.
windows() { timeout 5 xdotool search --name '^Parkhaus$' 2>/dev/null | sort; }
before=$(windows)
SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$exe" >out.txt 2>err.txt &
pid=$!
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"; echo "the program ended early with status $?"; cat out.txt err.txt; exit 1
fi
win=""
for _ in $(seq 1 30); do
  win=$(comm -13 <(echo "$before") <(windows) | head -n1)
  [ -n "$win" ] && break
  sleep 0.2
done
if [ -z "$win" ]; then
  echo "no window of the program found"; kill "$pid"; wait "$pid"; exit 1
fi
# Give the window the keyboard, then press q.
timeout 5 xdotool windowfocus "$win" 2>/dev/null || true
timeout 5 xdotool key --window "$win" q || true
for _ in $(seq 1 30); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  timeout 5 xdotool key q || true
  for _ in $(seq 1 30); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
fi
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not quit on q"; kill "$pid"; wait "$pid"; exit 1
fi
wait "$pid"
status=$?
fail=0
[ "$status" -eq 0 ] || { echo "exit status $status"; fail=1; }
n=$(grep -c '^Error while opening OIA: ' err.txt)
[ "$n" -eq 3 ] || { echo "expected three mesh open errors on stderr, saw $n"; fail=1; }
grep -q 'Error loading texture' out.txt && { echo "a pack texture failed to load"; fail=1; }
echo "--- stdout"; cat out.txt
echo "--- stderr"; cat err.txt
exit $fail
