#!/bin/bash
# The real binary under Xvfb and openbox, driven with xdotool as a user
# drives it, against morvanta-archive on a free loopback port:
#   echo   the Settings menu, the password, the Test button: the archive
#          answers a C-ECHO from the station's AE title and the outcome is
#          shown in a message box
#   move   [Forward] Method=MOVE with CT_ROOM active: a search, two rows
#          clicked, Send: the archive moves both studies by C-MOVE to a
#          storescp started here, and their images arrive there
#
# usage: echo_move_flows.sh <morvanta binary> <morvanta-archive binary> <echo|move>
# exit 77 (skipped) only when there is no X server to run it in.

set -u
binary=${1:?usage: echo_move_flows.sh <morvanta> <morvanta-archive> <scenario>}
archive=${2:?usage: echo_move_flows.sh <morvanta> <morvanta-archive> <scenario>}
scenario=${3:?usage: echo_move_flows.sh <morvanta> <morvanta-archive> <scenario>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/flows_lib.sh"

start_x_session 96

# The C-MOVE destination: storescp on a free port, writing into its own folder.
received="$work/received"
mkdir -p "$received"
scp_pid=
for attempt in 1 2 3 4 5; do
  scp_port=$((20000 + RANDOM % 40000))
  port_free "$scp_port" || continue
  storescp -aet CT_ROOM -od "$received" "$scp_port" >"$work/storescp.log" 2>&1 &
  scp_pid=$!
  scp_listening() { ! port_free "$scp_port"; }
  deadline=$((SECONDS + 20))
  until scp_listening || ! kill -0 "$scp_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || break
    sleep 0.1
  done
  scp_listening && kill -0 "$scp_pid" 2>/dev/null && break
  kill "$scp_pid" 2>/dev/null
  wait "$scp_pid" 2>/dev/null
  scp_pid=
done
[[ -n $scp_pid ]] || fail "storescp did not start"
pids+=("$scp_pid")

# The archive on a port the system picks.
journal="$work/journal.jsonl"
start_archive "$archive" "$work/archive.log" --aet ARCHIVE --journal "$journal" --demo 12 \
  --node "CT_ROOM=127.0.0.1:$scp_port"

make_program
if [[ $scenario == move ]]; then
  printf '[Forward]\r\nMethod=MOVE\r\nNode0=CT room|CT_ROOM\r\nActive=CT_ROOM\r\n' >>"$prog/Settings.ini"
fi

start_program "$prog"

case $scenario in
  echo)
    xdotool key alt+s
    login_shown() { [[ $(windows_titled Login) -eq 1 ]]; }
    wait_until 20 "the password prompt" login_shown
    login=$(($(window_id Login)))
    wait_until 10 "the prompt to be active" is_active "$login"
    xdotool type --delay 20 "vorel"
    xdotool key Return
    settings_shown() { [[ $(windows_titled Settings) -eq 1 ]]; }
    wait_until 20 "the settings dialog" settings_shown
    dialog=$(($(window_id Settings)))
    wait_until 10 "the settings dialog to be active" is_active "$dialog"
    # Test: 1320 x 375 twips at 4770, 135 in the frame at 270, 5850.
    xdotool mousemove --window "$dialog" 380 411 click 1
    wait_until 20 "the archive to answer a C-ECHO" journal_has '"type":"echo"'
    grep '"type":"echo"' "$journal" | grep -q '"calling":"MORVANTA"' || fail "echo not from MORVANTA"
    wait_until 20 "the outcome's message box" box_shown
    close_message_box
    wait_until 10 "the settings dialog to be active again" is_active "$dialog"
    # Cancel: 1320 x 420 twips at 5175, 6570.
    xdotool mousemove --window "$dialog" 389 452 click 1
    settings_gone() { [[ $(windows_titled Settings) -eq 0 ]]; }
    wait_until 10 "the settings dialog to close" settings_gone
    echo "ok: the Test button sent a C-ECHO from MORVANTA and showed its outcome"
    ;;

  move)
    search_for "*"
    wait_until 20 "the archive to receive the C-FIND" journal_has '"type":"find"'
    wait_until 20 "the result rows" grid_filled
    select_two_rows
    click_send
    wait_until 30 "the completion message" box_shown
    moves=$(grep '"type":"move"' "$journal")
    [[ $(grep -c . <<<"$moves") -eq 2 ]] || fail "expected 2 C-MOVEs, the journal holds: $moves"
    grep -q '"destination":"CT_ROOM"' <<<"$moves" || fail "moves not to CT_ROOM: $moves"
    grep -q '"status":"0x0000"' <<<"$moves" || fail "moves failed: $moves"
    grep -q '"type":"store"' "$journal" && fail "a forwarding request was stored instead"
    images=$(grep -o '"completed":[0-9]*' <<<"$moves" | awk -F: '{ n += $2 } END { print n }')
    ((images > 0)) || fail "no images moved: $moves"
    files_arrived() { [[ $(find "$received" -type f | wc -l) -eq $images ]]; }
    wait_until 20 "$images images at storescp" files_arrived
    close_message_box "the completion message"
    echo "ok: two studies moved by C-MOVE; $images images arrived at storescp"
    ;;

  *) fail "unknown scenario $scenario" ;;
esac

close_program
exit 0
