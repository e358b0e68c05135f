# What app_flows.sh and echo_move_flows.sh share: the program in a directory
# of its own configured for the archive, the steps of a search and of a Send,
# and the message boxes. Sourced after scripts/lib/xsession.sh; $binary,
# $work, $port, $journal and $prog_name (the program's folder, "prog" unless
# set) are read when a function runs.

xs_failure_details() {
  local log
  for log in "${prog:-$work/prog}"/stderr.log "$work"/archive.log; do
    [[ -s $log ]] && { echo "--- $log"; tail -n 20 "$log"; }
  done
}

# The program in a directory of its own ($prog), configured for the archive.
make_program() {
  prog="$work/${prog_name:-prog}"
  mkdir -p "$prog"
  cp "$binary" "$prog/morvanta"
  printf '[Local]\r\nAET=MORVANTA\r\n[Query]\r\nAET=ARCHIVE\r\nIP=127.0.0.1\r\nPort=%s\r\nTimeout=10\r\n' \
    "$port" >"$prog/Settings.ini"
}

journal_has() { grep -q "$1" "$journal" 2>/dev/null; }

# The client area starts below the menu bar, 20 to 30 pixels high at 96 DPI;
# every click stays well inside its target for any height in that range.
mb=25

search_for() {
  xdotool type --delay 20 "$1"
  xdotool key Return
}

# The answer is applied on the UI thread after the archive has sent it:
# wait until the grid's first rows show something besides their
# background (the one look at the screen these tests take).
grid_filled() {
  local spread
  spread=$(import -window "$main" -crop "400x60+10+$((mb + 258 + 25))" +repage \
    -colorspace gray -format '%[fx:standard_deviation]' info: 2>/dev/null) || return 1
  awk -v s="$spread" 'BEGIN { exit !(s > 0.01) }'
}

# Two rows clicked (the second with Ctrl), then Send. The grid's top is 258
# px below the menu bar, its header about 25 px high, a row about 20 to 30
# px: two clicks 70 px apart hit two different rows whatever the heights.
select_two_rows() {
  local y1=$((mb + 258 + 45))
  xdotool mousemove --window "$main" 120 "$y1" click 1
  xdotool keydown ctrl mousemove --window "$main" 120 $((y1 + 70)) click 1 keyup ctrl
}
# Send: 4110 x 3120 twips at 8595, 45.
click_send() { xdotool mousemove --window "$main" 710 $((mb + 110)) click 1; }

# The one message box over the main window (both carry the program's title).
message_box() {
  wmctrl -l | awk '{ id = $1; $1 = $2 = $3 = ""; sub(/^ +/, "") } $0 == "Morvanta" { print id }' |
    while read -r id; do (( $((id)) != main )) && echo $((id)); done | head -n1
}
box_shown() { [[ -n $(message_box) ]]; }
box_gone() { [[ -z $(message_box) ]]; }
# close_message_box [what]: Return in the message box, which must then close.
close_message_box() {
  local box
  box=$(message_box)
  [[ -n $box ]] || fail "no message box found"
  wmctrl -i -a "$box"
  wait_until 10 "the message box to be active" is_active "$box"
  xdotool key Return
  wait_until 10 "${1:-the message box} to close" box_gone
}

# The program still runs; its window closed, it exits with 0.
close_program() {
  kill -0 "$program_pid" 2>/dev/null || fail "morvanta ended by itself"
  wmctrl -i -c "$main"
  process_ended() { ! kill -0 "$1" 2>/dev/null; }
  wait_until 20 "morvanta to exit" process_ended "$program_pid"
  wait "$program_pid"
  local rc=$?
  [[ $rc -eq 0 ]] || fail "morvanta exited with $rc"
}
