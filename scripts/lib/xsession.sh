# Sourced by the tour and the end-to-end tests: a private X server (Xvfb) with
# a window manager (openbox), a scratch folder, processes stopped on exit, and
# waiting on a condition with a deadline.
#
# Before sourcing, a script may set:
#   xs_name        prefix of failure lines (default "FAIL")
#   xs_window_manager=none  no window manager (start_x_session starts Xvfb only)
# and may define xs_failure_details, run by fail() before it exits (logs,
# screenshots). After sourcing: $work (removed on exit), pids+=(...) for every
# process to stop on exit, fail, wait_until, port_free, start_archive, start_x_session, the
# window helpers and start_program.

# Without an X server there is nothing to run in: a test reports itself
# skipped (77). Without the tools that drive it, it fails.
if ! command -v Xvfb >/dev/null; then
  echo "SKIP: Xvfb is not installed"
  exit 77
fi
for tool in openbox wmctrl xdotool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done

work=$(mktemp -d)
pids=()
xs_cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap xs_cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "${xs_name:-FAIL}: $*" >&2
  if declare -F xs_failure_details >/dev/null; then xs_failure_details >&2; fi
  exit 1
}

# wait_until <seconds> <what> <command...>: polls the command until it
# succeeds, or fails at the deadline.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "timed out after ${seconds}s waiting for $what"
    sleep 0.1
  done
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# start_archive BINARY LOG OPTIONS...: morvanta-archive on a port the system
# picks (--port 0), output in LOG; sets archive_pid and port once it says it
# takes connections, or fails after 20 seconds.
start_archive() {
  local binary=$1 log=$2
  shift 2
  "$binary" --port 0 "$@" >"$log" 2>&1 &
  archive_pid=$!
  pids+=("$archive_pid")
  local deadline=$((SECONDS + 20))
  port=
  until [[ -n $port ]]; do
    port=$(sed -n 's/.*listening on port \([0-9][0-9]*\) .*/\1/p' "$log" 2>/dev/null | head -n 1)
    [[ -n $port ]] && break
    kill -0 "$archive_pid" 2>/dev/null && ((SECONDS < deadline)) || fail "morvanta-archive did not start: $(cat "$log")"
    sleep 0.05
  done
}

# start_x_session [dpi]: Xvfb on a display it picks itself (so parallel runs
# never collide) and openbox on it; DISPLAY and a private HOME are exported.
# With a dpi (96 by default where given), 15 twips are one pixel at 96.
#
# -noreset: an X server resets when its last client disconnects, and a client
# that connects during the reset is turned away. Here the first wmctrl -m can
# disconnect just as openbox connects; openbox then exits with "Failed to open
# the display" and the session never gets its window manager (1 start in 60
# with six sessions starting at once).
start_x_session() {
  local dpi=${1:-}
  Xvfb -displayfd 9 -screen 0 1280x1024x24 ${dpi:+-dpi "$dpi"} -nolisten tcp -noreset \
    9>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  wait_until 20 "Xvfb to report its display" test -s "$work/display"
  export DISPLAY=":$(head -n1 "$work/display")"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
  [[ -n $dpi ]] && export QT_FONT_DPI=$dpi
  export TCP_NODELAY=1
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  # libxkbcommon-x11 reads the X server's keymap names with strndup on bounded
  # strings that are not NUL-terminated, which ASan's strict string checks
  # report before any of our code runs. Only that check is relaxed.
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"

  # xs_window_manager=none: a bare X server, where windows have no frame.
  [[ ${xs_window_manager:-} == none ]] && return 0
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  xs_openbox=$!
  pids+=($xs_openbox)
  wait_until 20 "the window manager" window_manager_ready
}

# True once the window manager answers; fails at once, with its output, if it
# has ended instead.
window_manager_ready() {
  wmctrl -m >/dev/null 2>&1 && return 0
  kill -0 "$xs_openbox" 2>/dev/null ||
    fail "openbox ended on $DISPLAY before it managed the screen: $(cat "$work/openbox.log")"
  return 1
}

# Managed windows with this exact title (Qt also has a hidden leader window).
windows_titled() { wmctrl -l | awk -v t="$1" '{ $1 = $2 = $3 = ""; sub(/^ +/, "") } $0 == t' | wc -l; }
window_id() { wmctrl -l | awk -v t="$1" '{ id = $1; $1 = $2 = $3 = ""; sub(/^ +/, "") } $0 == t { print id; exit }'; }
is_active() { [[ $(xdotool getactivewindow 2>/dev/null) == "$1" ]]; }
# activate <window id>: raises the window and waits until it has the focus.
activate() { wmctrl -i -a "$1"; wait_until 10 "window $1 to be active" is_active "$1"; }

# settings_add_node <alias> <aet>: the Settings menu, the password, Add New,
# alias and AE title, then OK in the settings dialog. Leaves the dialog's id
# in $settings_dialog; what OK leads to is for the caller to wait for.
settings_add_node() {
  local login editor
  xdotool key alt+s
  wait_until 20 "the password prompt" eval '[[ $(windows_titled Login) -eq 1 ]]'
  login=$(($(window_id Login)))
  wait_until 10 "the prompt to be active" is_active "$login"
  xdotool type --delay 20 "vorel"
  xdotool key Return
  wait_until 20 "the settings dialog" eval '[[ $(windows_titled Settings) -eq 1 ]]'
  settings_dialog=$(($(window_id Settings)))
  wait_until 10 "the settings dialog to be active" is_active "$settings_dialog"
  # "Add New" has the focus when the dialog opens.
  xdotool key space
  wait_until 20 "the node editor" eval '[[ $(windows_titled "New Entry") -eq 1 ]]'
  editor=$(($(window_id "New Entry")))
  wait_until 10 "the node editor to be active" is_active "$editor"
  xdotool type --delay 20 "$1"
  xdotool key Tab
  xdotool type --delay 20 "$2"
  xdotool key Return
  wait_until 10 "the node editor to close" eval '[[ $(windows_titled "New Entry") -eq 0 ]]'
  wait_until 10 "the settings dialog to be active again" is_active "$settings_dialog"
  # OK: 1320 x 420 twips at 3780, 6570 in the dialog.
  xdotool mousemove --window "$settings_dialog" 296 452 click 1
}

# start_program <program dir>: starts <dir>/morvanta from there (stdout.log and
# stderr.log beside it), waits for its main window and gives it the focus.
# Sets program_pid and main (the window's id).
start_program() {
  local dir=$1
  (cd / && exec "$dir/morvanta") >"$dir/stdout.log" 2>"$dir/stderr.log" &
  program_pid=$!
  pids+=("$program_pid")
  wait_until 30 "the Morvanta window" eval '[[ $(windows_titled Morvanta) -ge 1 ]]'
  main=$(($(window_id Morvanta)))
  activate "$main"
}
