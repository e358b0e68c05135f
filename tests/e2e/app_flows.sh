#!/bin/bash
# The real binary under Xvfb and openbox, driven with xdotool as a user
# drives it, against morvanta-archive on a free loopback port:
#   search    a patient ID typed, Enter: the archive received that ID
#   send      a search, two rows clicked (Ctrl+click), Send, the completion
#             message closed: the archive holds a request for both studies
#   settings  the Settings menu, the password, a node added (Add New, alias,
#             AE title, Add, OK): Settings.ini holds it, no dialog is left, and
#             the new node button on the main window answers a click
#   same_bytes  this program and a reference program (the fourth argument)
#             each do the same steps against the archive (a search, a Send of
#             two studies, a second Send that the archive refuses, a node with
#             an umlaut added through the Settings menu and made active, a
#             search refused for an AE title with an umlaut):
#             their Settings.ini and Logs/Error.log match byte for byte but
#             for the times, and hold CR LF and Windows-1252
#   elsewhere  the program in a folder whose name is not ASCII: a search
#             reaches the archive; with TLS turned on by hand, the next one's
#             error names the missing TLS module in that folder, right, in
#             the folder's Logs/Error.log, and so does the error of the save
#             on close to a read-only Settings.ini
#
# usage: app_flows.sh <morvanta binary> <morvanta-archive binary> <scenario> [reference morvanta]
# exit 77 (skipped) only when there is no X server to run it in.

set -u
binary=${1:?usage: app_flows.sh <morvanta> <morvanta-archive> <scenario>}
archive=${2:?usage: app_flows.sh <morvanta> <morvanta-archive> <scenario>}
scenario=${3:?usage: app_flows.sh <morvanta> <morvanta-archive> <scenario>}
reference=${4:-}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/flows_lib.sh"

start_x_session 96

# The archive on a port the system picks (or on $port, kept from an earlier
# one: the port is part of the error texts compared below).
archive_options=(--aet ARCHIVE --demo 12)
[[ $scenario == same_bytes ]] && archive_options+=(--fail-store 3)
run_archive() {
  journal="$work/journal-${prog_name:-prog}.jsonl"
  start_archive "$archive" "$work/archive.log" "${archive_options[@]}" --journal "$journal" ${1:+--port "$1"}
}
stop_archive() {
  kill "$archive_pid" && wait "$archive_pid" 2>/dev/null
  ! port_free "$port" && fail "the archive's port is still taken"
}

# An error line with this number in the program's Error.log.
logged() { grep -qs " - $1 - " "$prog/Logs/Error.log"; }

# Each request in the journal a line; the ones of $1's type.
requests() { grep "\"type\":\"$1\"" "$journal"; }

# The steps of same_bytes, with the program in $prog_name.
same_steps() {
  search_for "*"
  wait_until 20 "the archive to receive the C-FIND" journal_has '"type":"find"'
  wait_until 20 "the result rows" grid_filled
  select_two_rows
  click_send
  wait_until 20 "the completion message" box_shown
  close_message_box "the completion message"
  [[ $(requests store | grep -c '"creator":"REDIRECT".*"status":"0x0000"') -eq 2 ]] ||
    fail "expected 2 accepted forwarding requests: $(requests store)"
  # The same two again (a Send leaves Send off until a row is picked): the
  # archive refuses the third request it gets.
  select_two_rows
  click_send
  wait_until 20 "the refusal's message box" box_shown
  close_message_box "the refusal's message box"
  wait_until 10 "the refusal in Error.log" logged 1007
  activate "$main"
  settings_add_node "Röntgen Süd" RTGSUED
  wait_until 10 "the settings dialog to close" eval '[[ $(windows_titled Settings) -eq 0 ]]'
  activate "$main"
  xdotool mousemove --window "$main" 77 $((mb + 194)) click 1
  wait_until 10 "a click on the new node button" eval "tr -d '\r' <'$prog/Settings.ini' | grep -qx 'Active=RTGSUED'"
  # A hand edit no search can use, with a letter outside ASCII, then Search
  # (1185 x 1050 twips at 7020, 225 in the search panel): the error quotes it.
  LC_ALL=C sed -i $'s/^AET=MORVANTA\r$/AET=M\xd6RVANTA\r/' "$prog/Settings.ini"
  xdotool mousemove --window "$main" 516 $((mb + 101)) click 1
  wait_until 20 "the error's message box" box_shown
  close_message_box "the error's message box"
  wait_until 10 "the error in Error.log" logged 1010
  close_program
}

# Times are the one thing two runs may differ in: "dd.mm.yyyy hh:mm:ss".
masked() { LC_ALL=C sed 's/^[0-9][0-9]\.[0-9][0-9]\.[0-9]\{4\} [0-9][0-9]:[0-9][0-9]:[0-9][0-9] - /<time> - /' "$1"; }
same_file() {
  cmp -s <(masked "$work/reference/$1") <(masked "$work/prog/$1") ||
    fail "$1 differs from the reference program's:"$'\n'"$(diff <(masked "$work/reference/$1" | od -c) \
      <(masked "$work/prog/$1" | od -c))"
}

if [[ $scenario == same_bytes ]]; then
  [[ -n $reference ]] || fail "same_bytes needs the reference program"
  # The umlauts from a German keyboard, as a user there types them: wine
  # reads the key map once, at its start, and misses the keys xdotool maps
  # for a character the map lacks.
  setxkbmap de || fail "no German keyboard map"
  ours=$binary
  prog_name=reference binary=$reference xs_name="FAIL (the reference program)"
  run_archive
  make_program
  start_program "$prog"
  same_steps
  stop_archive
  prog_name=prog binary=$ours xs_name=FAIL
  run_archive "$port"
  make_program
  start_program "$prog"
  same_steps
  same_file Settings.ini
  same_file Logs/Error.log
  # And both hold what the other programs on the station read.
  LC_ALL=C grep -q $'^Node0=R\xf6ntgen S\xfcd|RTGSUED\r$' "$prog/Settings.ini" ||
    fail "the node is not in Windows-1252 with CR LF: $(od -c "$prog/Settings.ini")"
  LC_ALL=C grep -q $' - 1010 - .*"M\xd6RVANTA"' "$prog/Logs/Error.log" ||
    fail "the AE title is not in Windows-1252: $(od -c "$prog/Logs/Error.log")"
  [[ $(LC_ALL=C grep -c $'\r$' "$prog/Logs/Error.log") -eq $(wc -l <"$prog/Logs/Error.log") ]] ||
    fail "Error.log lines without CR LF: $(od -c "$prog/Logs/Error.log")"
  echo "ok: Settings.ini and Error.log are the reference program's bytes but for the times"
  exit 0
fi

[[ $scenario == elsewhere ]] && prog_name="Mörvanta 測試"
run_archive
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
    wait_until 20 "the result rows" grid_filled
    select_two_rows
    click_send
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

  elsewhere)
    search_for "PID-E2E-42"
    wait_until 20 "the archive to receive the C-FIND" journal_has '"0010,0020":"PID-E2E-42"'
    # TLS turned on by hand: the TLS module, which is not beside the program
    # here, is named with its folder in the error.
    printf '[TLS]\r\nEnabled=1\r\n' >>"$prog/Settings.ini"
    xdotool key ctrl+a
    search_for "PID-E2E-43"
    wait_until 20 "the error's message box" box_shown
    close_message_box "the error's message box"
    wait_until 10 "the error in the folder's Error.log" logged 1015
    # Windows-1252 has the o with umlaut and no CJK: those are question marks.
    LC_ALL=C grep -q $'"[^"]*[\\/]M\xf6rvanta ??[\\/]morvanta-tls\\.[a-z]*"' "$prog/Logs/Error.log" ||
      fail "the folder is not named right: $(od -c "$prog/Logs/Error.log")"
    journal_has '"0010,0020":"PID-E2E-43"' && fail "the archive was asked without TLS"
    # The window's height, saved on close to a Settings.ini made read-only:
    # the error names the file, in the folder, with the system's separators.
    chmod a-w "$prog/Settings.ini"
    close_program
    line=$(LC_ALL=C grep -a ' - Cannot write .* - Form_Unload'$'\r$' "$prog/Logs/Error.log") ||
      fail "no error for the read-only Settings.ini: $(od -c "$prog/Logs/Error.log")"
    file=${line#* - Cannot write }
    file=${file%%: the file is read-only*}
    LC_ALL=C grep -aq $'[\\/]M\xf6rvanta ??[\\/]Settings\\.ini$' <<<"$file" || fail "the file is not named right: $line"
    [[ $file == */* && $file == *\\* ]] && fail "two kinds of separator in $file"
    echo "ok: run from \"$prog_name\", a search reached the archive; the errors naming the TLS module and" \
      "Settings.ini went to its Error.log"
    exit 0
    ;;

  *) fail "unknown scenario $scenario" ;;
esac

close_program
exit 0
