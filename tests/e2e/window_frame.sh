#!/bin/bash
# The main window's height against the frame a window manager puts around
# it, on the real binary under Xvfb: the height stored in Settings.ini is the
# outer height, frame included, so it comes back unchanged run after run; a
# height that is not a number keeps the designed client area; and the user
# can resize the window, with a window manager (wm) and without one (bare,
# where the platform reports no frame).
#
# usage: window_frame.sh <morvanta binary> wm|bare
# exit 77 (skipped) only when there is no X server to run it in.

set -u
binary=${1:?usage: window_frame.sh <morvanta binary> wm|bare}
mode=${2:?usage: window_frame.sh <morvanta binary> wm|bare}
[[ $mode == bare ]] && xs_window_manager=none

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"

# At 96 DPI a pixel is 15 twips.
start_x_session 96

# The designed client area below the menu bar: 7950 twips.
designed=$((7950 / 15))

client_height() { xwininfo -id "$1" 2>/dev/null | awk '/^  Height:/ { print $2 }'; }
# The frame's top and bottom together (0 without a window manager).
frame_height() {
  [[ $mode == bare ]] && { echo 0; return; }
  xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null |
    awk -F'= ' 'NF > 1 { split($2, e, ", "); print e[3] + e[4] }'
}
framed() { [[ $mode == bare ]] || [[ $(frame_height "$1") -gt 0 ]] 2>/dev/null; }
search_height() {
  tr -d '\r' <"$1/Settings.ini" | awk -F= '
    /^\[/ { section = tolower($0) }
    section == "[size]" && tolower($1) == "searchheight" { print $2; exit }'
}
near() { (( $1 >= $2 - 30 && $1 <= $2 + 30 )); }
process_ended() { ! kill -0 "$1" 2>/dev/null; }

# run <dir>: starts the program from <dir>, waits for its framed window, and
# sets main, frame.
run() {
  local dir=$1
  (cd / && exec "$dir/morvanta") >"$dir/stdout.log" 2>"$dir/stderr.log" &
  program_pid=$!
  pids+=("$program_pid")
  if [[ $mode == bare ]]; then
    wait_until 30 "the Morvanta window" eval \
      'main=$(xdotool search --onlyvisible --name "^Morvanta\$" 2>/dev/null | head -n1); [[ -n $main ]]'
  else
    wait_until 30 "the Morvanta window" eval '[[ $(windows_titled Morvanta) -ge 1 ]]'
    main=$(($(window_id Morvanta)))
  fi
  wait_until 20 "the window manager's frame" framed "$main"
  frame=$(frame_height "$main")
}

# finish: closes the window as a user does and waits for the program to end.
finish() {
  if [[ $mode == bare ]]; then
    # No close box without a window manager: Datei > Beenden from the keyboard.
    xdotool windowfocus --sync "$main"
    xdotool key alt+d b
  else
    wmctrl -i -c "$main"
  fi
  wait_until 30 "morvanta to end" process_ended "$program_pid"
  wait "$program_pid" || fail "morvanta exited with $?: $(cat "$dir/stderr.log")"
}

dir="$work/station"
mkdir -p "$dir"
cp "$binary" "$dir/morvanta"
write_height() { printf '[Size]\r\nSearchHeight=%s\r\n' "$1" >"$dir/Settings.ini"; }

if [[ $mode == wm ]]; then
  # 1. Not a number: the designed client area (the menu bar above it), and
  #    the frame outside it. What is saved is that outer height.
  write_height abc
  run "$dir"
  finish
  saved=$(search_height "$dir")
  [[ $saved =~ ^[0-9]+$ ]] || fail "SearchHeight is '$saved'"
  menu=$((saved / 15 - frame - designed))
  (( menu >= 15 && menu <= 40 )) ||
    fail "SearchHeight=abc: saved $saved twips, frame $frame px: a client area of $((saved / 15 - frame)) px leaves $menu px for the menu bar above the designed $designed px"
  echo "ok: SearchHeight=abc kept the designed client area; saved $saved (frame $frame px)"

  # 2. The saved height comes back, run after run, without shrinking.
  for round in 1 2; do
    run "$dir"
    finish
    again=$(search_height "$dir")
    near "$again" "$saved" || fail "run $round: SearchHeight $again, expected about $saved"
  done
  echo "ok: $saved came back twice"

  # 3. A number is the outer height.
  write_height 9000
  run "$dir"
  wait_until 20 "a client area of $((600 - frame)) px" eval '[[ $(client_height $main) -eq $((600 - frame)) ]]'
  finish
  saved=$(search_height "$dir")
  near "$saved" 9000 || fail "SearchHeight $saved after starting with 9000"
  echo "ok: 9000 is the outer height and came back as $saved"
fi

# 4. The user resizes the window (with the window manager, or without one);
#    the new height stays and is what is saved.
write_height 9000
run "$dir"
xdotool windowsize "$main" 800 480
wait_until 20 "the window to take the new size" eval '[[ $(client_height $main) -eq 480 ]]'
finish
saved=$(search_height "$dir")
near "$saved" $(((480 + frame) * 15)) ||
  fail "resized to 480 px (frame $frame px): SearchHeight $saved, expected about $(((480 + frame) * 15))"
echo "ok: resized to 480 px, saved $saved"
