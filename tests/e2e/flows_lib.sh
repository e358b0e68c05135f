# What app_flows.sh and echo_move_flows.sh share: the program in a directory
# of its own configured for the archive, and the steps of a search. Sourced
# after scripts/lib/xsession.sh; $binary, $work, $port and $journal are read
# when a function runs.

xs_failure_details() {
  local log
  for log in "$work"/prog/stderr.log "$work"/archive.log; do
    [[ -s $log ]] && { echo "--- $log"; tail -n 20 "$log"; }
  done
}

# The program in a directory of its own ($prog), configured for the archive.
make_program() {
  prog="$work/prog"
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
