#!/bin/bash
# morvanta.exe under wine, Xvfb and openbox, driven with xdotool as a user
# drives it, against the Linux morvanta-archive on a free loopback port: "*"
# typed in the patient ID, Enter; the archive receives the C-FIND from
# MORVANTA and the grid's first rows fill.
#
# usage: e2e_search.sh <program folder (build-windows/stage/Morvanta)> <Linux morvanta-archive>
# WINEPREFIX as set by the caller (scripts/build-windows: build-windows/wineprefix).
# exit 77 (skipped) only when there is no X server to run it in.

set -u
stage=${1:?usage: e2e_search.sh <program folder> <morvanta-archive>}
archive=${2:?usage: e2e_search.sh <program folder> <morvanta-archive>}
wine=/usr/lib/wine/wine64

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"
xs_failure_details() {
  local log
  for log in "$work"/prog/stderr.log "$work"/archive.log; do
    [[ -s $log ]] && { echo "--- $log"; tail -n 20 "$log"; }
  done
}

start_x_session 96
export WINEDEBUG=-all
journal="$work/journal.jsonl"
start_archive "$archive" "$work/archive.log" --aet ARCHIVE --journal "$journal" --demo 12

prog="$work/prog"
cp -a "$stage" "$prog"
printf '[Local]\r\nAET=MORVANTA\r\n[Query]\r\nAET=ARCHIVE\r\nIP=127.0.0.1\r\nPort=%s\r\nTimeout=10\r\n' \
  "$port" >"$prog/Settings.ini"

# wine runs the program in the process it starts: its id is the program's.
(cd "$prog" && exec "$wine" ./morvanta.exe) >"$prog/stdout.log" 2>"$prog/stderr.log" &
pids+=($!)
wait_until 60 "the Morvanta window" eval '[[ $(windows_titled Morvanta) -ge 1 ]]'
main=$(($(window_id Morvanta)))
activate "$main"

# The grid's first rows, below the menu bar, the search panel and the grid's
# header, show something besides their background once the answer is in.
grid_filled() {
  local spread
  spread=$(import -window "$main" -crop "400x60+10+310" +repage \
    -colorspace gray -format '%[fx:standard_deviation]' info: 2>/dev/null) || return 1
  awk -v s="$spread" 'BEGIN { exit !(s > 0.01) }'
}
grid_filled && fail "the empty grid already looks filled: the crop is off"

# The patient ID field has the focus when the window opens.
xdotool type --delay 50 '*'
xdotool key Return
journal_has() { grep -q "$1" "$journal" 2>/dev/null; }
wait_until 30 "the archive to receive the C-FIND" journal_has '"type":"find"'
grep '"type":"find"' "$journal" | grep -q '"calling":"MORVANTA"' || fail "find not from MORVANTA"

wait_until 30 "the result rows" grid_filled
echo "ok: morvanta.exe under wine searched the Linux archive and shows its studies"
