#!/usr/bin/env bash
# Starts the program as a user would, on a virtual display of its own:
# a second copy shows the already-running box and ends with code 0; a copy
# killed outright does not stop the next start; a picture named on the
# command line opens; of ten copies started at once exactly one opens its
# window.
set -euo pipefail
app=$1
# A display of our own: Xvfb picks a free number and tells it, so two runs
# at once never share (or fight over) one. -noreset: by default the server
# resets whenever its last client leaves (a copy killed, an xdotool call
# ended), and a copy that connects during the reset is turned away.
exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 1280x800x24 -nolisten tcp 2>/dev/null)
xvfb=$!
read -r -t 20 display <&3 || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

start() { "$app" "$@" >/dev/null 2>&1 & pids+=($!); }

# The visible window of a process, once it has one (empty after 20 s).
window_of() {
  for _ in $(seq 200); do
    local w
    w=$(xdotool search --all --onlyvisible --pid "$1" --name '' 2>/dev/null | head -n 1 || true)
    [[ -n "$w" ]] && { echo "$w"; return; }
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
}

# The main window is 944 pixels wide; the box is far smaller.
is_main_window() {
  local WIDTH=0
  eval "$(xdotool getwindowgeometry --shell "$1" | grep WIDTH)"
  (( WIDTH >= 944 ))
}

# Answers a box with Enter and checks that its process ends with code 0.
answer_box_and_expect_exit_0() {
  local pid=$1 win=$2
  xdotool windowfocus --sync "$win" key --clearmodifiers Return
  local code=0
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "copy $pid did not end after its box was answered"
  wait "$pid" || code=$?
  (( code == 0 )) || fail "copy $pid ended with code $code"
}

# 1. A second copy while one runs.
start; first=${pids[-1]}
w=$(window_of "$first"); [[ -n "$w" ]] || fail "the first copy shows no window"
is_main_window "$w" || fail "the first copy shows no main window"
start; second=${pids[-1]}
w2=$(window_of "$second"); [[ -n "$w2" ]] || fail "the second copy shows nothing"
is_main_window "$w2" && fail "the second copy opened a main window"
[[ "$(xdotool getwindowname "$w2")" == "Tessarin" ]] || fail "the box is not titled Tessarin"
answer_box_and_expect_exit_0 "$second" "$w2"
kill -0 "$first" || fail "the first copy ended with the second"
echo "ok: a second copy shows the box and exits 0"

# 2. The first copy killed outright: the next start runs normally.
kill -9 "$first"; wait "$first" 2>/dev/null || true
start; third=${pids[-1]}
w3=$(window_of "$third"); [[ -n "$w3" ]] || fail "no window after a killed copy"
is_main_window "$w3" || fail "a start after a killed copy showed the box"
kill -9 "$third"; wait "$third" 2>/dev/null || true
echo "ok: a start after SIGKILL runs normally"

# 3. A picture named on the command line opens at start.
convert -size 64x48 gradient:red-blue "$runtime/start picture.png"
start "$runtime/start picture.png"; fourth=${pids[-1]}
w4=$(window_of "$fourth"); [[ -n "$w4" ]] || fail "no window for a start with a picture"
title=""
for _ in $(seq 100); do
  title=$(xdotool getwindowname "$w4")
  [[ "$title" == "Tessarin (start picture.png) 64 x 48" ]] && break
  sleep 0.1
done
[[ "$title" == "Tessarin (start picture.png) 64 x 48" ]] || fail "the picture named at start did not open: '$title'"
kill -9 "$fourth"; wait "$fourth" 2>/dev/null || true
echo "ok: tessarin FILE opens the file"

# 4. Ten at once.
batch=()
for _ in $(seq 10); do start; batch+=(${pids[-1]}); done
mains=0 boxes=()
for p in "${batch[@]}"; do
  w=$(window_of "$p"); [[ -n "$w" ]] || fail "copy $p shows nothing"
  if is_main_window "$w"; then mains=$((mains + 1)); else boxes+=("$p:$w"); fi
done
(( mains == 1 )) || fail "$mains main windows from ten starts"
for b in "${boxes[@]}"; do answer_box_and_expect_exit_0 "${b%%:*}" "${b##*:}"; done
echo "ok: ten starts at once leave exactly one window"
