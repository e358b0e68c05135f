#!/bin/bash
# The real binary in a real X server with a window manager: it starts from a
# program directory of its own (with and without Settings.ini), its window is
# closed as a user would close it, and Settings.ini then holds the window's
# height with CR LF line ends (a missing one is not created).
#
# usage: main_window_close.sh <path of the built morvanta binary>
# exit 77 (skipped) only when there is no X server to run it in.

set -u
binary=${1:?usage: main_window_close.sh <morvanta binary>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"

start_x_session

window_listed() { wmctrl -l | grep -q " Morvanta$"; }
process_ended() { ! kill -0 "$1" 2>/dev/null; }

# run_and_close <program dir> <how: closebox | menu>: starts the program,
# waits for its window, closes it, and checks that it ended cleanly.
run_and_close() {
  local dir=$1 how=$2
  (cd / && exec "$dir/morvanta") >"$dir/stdout.log" 2>"$dir/stderr.log" &
  local pid=$!
  pids+=("$pid")
  wait_until 60 "the Morvanta window" window_listed
  kill -0 "$pid" 2>/dev/null || fail "morvanta ended by itself: $(cat "$dir/stderr.log")"
  case $how in
    closebox) wmctrl -c Morvanta ;;
    menu)
      # Alt+D opens "Datei", B is "Beenden"; typed into the active window.
      # The managed window, as the window manager lists it (Qt also has a
      # hidden leader window of the same name).
      local wid
      wid=$(($(wmctrl -l | awk '$NF == "Morvanta" { print $1; exit }')))
      wmctrl -a Morvanta
      wait_until 20 "the Morvanta window to be active" is_active "$wid"
      xdotool key alt+d b
      ;;
  esac
  wait_until 30 "morvanta to exit after closing ($how)" process_ended "$pid"
  wait "$pid"
  local rc=$?
  [[ $rc -eq 0 ]] || fail "morvanta exited with $rc: $(cat "$dir/stderr.log")"
}

# search_height <file>: the [Size] SearchHeight value.
search_height() {
  tr -d '\r' <"$1" | awk -F= '
    /^\[/ { section = tolower($0) }
    section == "[size]" && tolower($1) == "searchheight" { print $2; exit }'
}

check_crlf() {
  local file=$1
  local lines crlf
  lines=$(wc -l <"$file")
  crlf=$(grep -c $'\r$' "$file")
  [[ $lines -gt 0 && $lines -eq $crlf ]] || fail "$file: $crlf of $lines lines end in CR LF"
}

near() { (( $1 >= $2 - 30 && $1 <= $2 + 30 )); }

# 1. No Settings.ini: the program starts, and closing it by its close box
#    leaves no stub holding the height (the next start would then not say
#    that the file is missing).
dir1="$work/first"
mkdir -p "$dir1"
cp "$binary" "$dir1/morvanta"
run_and_close "$dir1" closebox
[[ ! -e $dir1/Settings.ini ]] || fail "closing created Settings.ini"
echo "ok: first start without Settings.ini, closed by the close box, no Settings.ini made"

# 1b. A station file with no height yet gets the default height, frame and
#     caption included, when the window closes.
printf '[Local]\r\nAET=WS1\r\n' >"$dir1/Settings.ini"
run_and_close "$dir1" closebox
check_crlf "$dir1/Settings.ini"
height=$(search_height "$dir1/Settings.ini")
[[ $height =~ ^[0-9]+$ ]] || fail "SearchHeight is '$height'"
near "$height" 10000 || fail "SearchHeight $height, expected about 10000"
echo "ok: closed by the close box, SearchHeight=$height"

# 2. A station's file: the stored height is the outer height the window opens
#    with, it is written back on "Beenden", and every other line stays.
dir2="$work/second"
mkdir -p "$dir2"
cp "$binary" "$dir2/morvanta"
printf '; station file\r\n[Forward]\r\nNode0=CT|CTAE\r\nActive=CTAE\r\n[Size]\r\nSearchHeight=9000\r\n' \
  >"$dir2/Settings.ini"
run_and_close "$dir2" menu
check_crlf "$dir2/Settings.ini"
height=$(search_height "$dir2/Settings.ini")
near "$height" 9000 || fail "SearchHeight $height, expected about 9000"
head -n4 "$dir2/Settings.ini" | tr -d '\r' | diff - <(printf '; station file\n[Forward]\nNode0=CT|CTAE\nActive=CTAE\n') \
  || fail "the other lines of Settings.ini changed"
echo "ok: stored height 9000 came back as $height after Beenden"

# 3. The same program directory again, closed by the close box.
run_and_close "$dir2" closebox
height=$(search_height "$dir2/Settings.ini")
near "$height" 9000 || fail "SearchHeight $height after a second run, expected about 9000"
echo "ok: second run kept the height ($height)"
