#!/bin/bash
# The real binary under Xvfb and openbox, driven with xdotool as a user
# drives it, against morvanta-archive on a free loopback port:
#   search    a patient ID typed, Enter: the archive received that ID
#   send      a search, two rows clicked (Ctrl+click), Send, the completion
#             message closed: the archive holds a request for both studies
#   settings  the Settings menu, the password, a node added (Add New, alias,
#             AE title, Add, OK): Settings.ini holds it, no dialog is left, and
#             the new node button on the main window answers a click
#
# usage: app_flows.sh <morvanta binary> <morvanta-archive binary> <search|send|settings>
# exit 77 (skipped) only when there is no X server to run it in.

set -u
binary=${1:?usage: app_flows.sh <morvanta> <morvanta-archive> <scenario>}
archive=${2:?usage: app_flows.sh <morvanta> <morvanta-archive> <scenario>}
scenario=${3:?usage: app_flows.sh <morvanta> <morvanta-archive> <scenario>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/flows_lib.sh"

start_x_session 96

# The archive on a port the system picks.
journal="$work/journal.jsonl"
start_archive "$archive" "$work/archive.log" --aet ARCHIVE --journal "$journal" --demo 12

make_program

start_program "$prog"

case $scenario in
  search)
    search_for "PID-E2E-42"
    wait_until 20 "the archive to receive the C-FIND" journal_has '"0010,0020":"PID-E2E-42"'
    grep '"type":"find"' "$journal" | grep -q '"calling":"MORVANTA"' || fail "find not from MORVANTA"
    echo "ok: the archive received a C-FIND for the typed patient ID"
    ;;

  send)
    grid_filled && fail "the empty grid already looks filled: the crop is off"
    search_for "*"
    wait_until 20 "the archive to receive the C-FIND" journal_has '"type":"find"'
    # Rows: the grid's top is 258 px below the menu bar, its header about 25
    # px high, a row about 20 to 30 px. Two clicks 70 px apart hit two
    # different rows of the twelve whatever the exact heights.
    wait_until 20 "the result rows" grid_filled
    y1=$((mb + 258 + 45))
    y2=$((y1 + 70))
    xdotool mousemove --window "$main" 120 "$y1" click 1
    xdotool keydown ctrl mousemove --window "$main" 120 "$y2" click 1 keyup ctrl
    # Send: 4110 x 3120 twips at 8595, 45.
    xdotool mousemove --window "$main" 710 $((mb + 110)) click 1
    completion_shown() { [[ $(windows_titled Morvanta) -ge 2 ]]; }
    wait_until 20 "the completion message" completion_shown
    box=$(wmctrl -l | awk '{ id = $1; $1 = $2 = $3 = ""; sub(/^ +/, "") } $0 == "Morvanta" { print id }' |
      while read -r id; do (( $((id)) != main )) && echo $((id)); done | head -n1)
    [[ -n $box ]] || fail "no message box found"
    wmctrl -i -a "$box"
    wait_until 10 "the message box to be active" is_active "$box"
    xdotool key Return
    completion_closed() { [[ $(windows_titled Morvanta) -eq 1 ]]; }
    wait_until 10 "the completion message to close" completion_closed
    stores=$(grep '"type":"store"' "$journal")
    [[ $(grep -c . <<<"$stores") -eq 2 ]] || fail "expected 2 requests, the journal holds: $stores"
    grep -q '"creator":"REDIRECT"' <<<"$stores" || fail "requests without REDIRECT: $stores"
    uids=$(grep -o '"study_uid":"[^"]*"' <<<"$stores" | sort -u)
    [[ $(grep -c '"study_uid":"[0-9.]\+"' <<<"$uids") -eq 2 ]] || fail "not two distinct studies: $uids"
    grep -q '"status":"0x0000"' <<<"$stores" || fail "requests not accepted: $stores"
    echo "ok: two rows clicked, Send, the archive holds requests for two studies"
    ;;

  settings)
    settings_add_node "CT Lab" CTLAB
    settings_gone() { [[ $(windows_titled Settings) -eq 0 && $(windows_titled Login) -eq 0 ]]; }
    wait_until 10 "the settings dialog to close" settings_gone
    node_written() { tr -d '\r' <"$prog/Settings.ini" | grep -qx 'Node0=CT Lab|CTLAB'; }
    wait_until 5 "Settings.ini to hold the node" node_written
    [[ $(windows_titled Morvanta) -eq 1 ]] || fail "a dialog is still open: $(wmctrl -l)"
    # The new button, cmdNode(0): 1860 x 420 twips at 90, 1935 in the search
    # panel (which sits at 135, 765). A click makes it the active node, which
    # is written to Settings.ini at once.
    wait_until 10 "the Morvanta window to be active" is_active "$main"
    xdotool mousemove --window "$main" 77 $((mb + 194)) click 1
    active_written() { tr -d '\r' <"$prog/Settings.ini" | grep -qx 'Active=CTLAB'; }
    wait_until 10 "a click on the new node button" active_written
    echo "ok: node added through the Settings menu; its button is on the main window"
    ;;

  *) fail "unknown scenario $scenario" ;;
esac

# The program still runs and closes cleanly.
kill -0 "$program_pid" 2>/dev/null || fail "morvanta ended by itself"
wmctrl -i -c "$main"
process_ended() { ! kill -0 "$1" 2>/dev/null; }
wait_until 20 "morvanta to exit" process_ended "$program_pid"
wait "$program_pid"
rc=$?
[[ $rc -eq 0 ]] || fail "morvanta exited with $rc"
exit 0
