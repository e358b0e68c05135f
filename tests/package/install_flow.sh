#!/bin/bash
# The package installed for real, as an administrator installs it, and used by
# the station's users under Xvfb with a window manager:
#   install     the group "morvanta" (a system group), Settings.ini from the
#               template root:morvanta 0664, Logs/ root:morvanta 2775,
#               /usr/bin/morvanta leading to /opt/morvanta, --version, the
#               TLS module beside the program with its libraries installed
#   configure   root enters the archive's address into Settings.ini
#   member      a member of the group starts `morvanta` from the PATH: the
#               window shows; a node added in the Settings dialog is saved in
#               /opt/morvanta/Settings.ini (found through the link), which stays
#               root:morvanta 0664; a click on the node's button is saved too
#   other user  "nobody" starts it: the window shows the member's active
#               node (read from the settings); the same save (the
#               same keys that saved for the member) is refused with a
#               message, the dialog keeps the values, and Settings.ini and
#               Logs/ are unchanged
#   upgrade     a higher version, then the same version again: Settings.ini
#               and Logs/ untouched (contents, owner, mode, time)
#   remove      the program goes, Settings.ini and Logs/ stay untouched
#   purge       /opt/morvanta is gone
# It leaves the machine as it found it: the package purged, its test user
# deleted, and the group deleted when it did not exist before.
#
# usage: install_flow.sh <package.deb | build dir with CPackConfig.cmake>
# Runs only as root with MORVANTA_PACKAGE_INSTALL_TEST=1 (exit 77 otherwise),
# on a machine where installing a package is allowed.

set -u
source_arg=${1:?usage: install_flow.sh <package.deb | build dir>}
if [[ $(id -u) -ne 0 || ${MORVANTA_PACKAGE_INSTALL_TEST:-} != 1 ]]; then
  echo "SKIP: installs the package system-wide; run as root with MORVANTA_PACKAGE_INSTALL_TEST=1"
  exit 77
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program_dir=/opt/morvanta
member=morvanta-tester

# Never on a machine where the package or its folder is in use.
if dpkg-query -W -f='${Status}' morvanta 2>/dev/null | grep -qv 'not-installed'; then
  echo "FAIL: morvanta is already installed here; the test would remove it"
  exit 1
fi
[[ -e $program_dir ]] && { echo "FAIL: $program_dir exists; the test would remove it"; exit 1; }
getent passwd "$member" >/dev/null && { echo "FAIL: user $member exists"; exit 1; }
group_existed=false
getent group morvanta >/dev/null && group_existed=true

source "$here/../../scripts/lib/xsession.sh"
source "$here/deb_source.sh"
xs_failure_details() {
  local log
  for log in "$work"/*/stderr.log "$work"/dpkg.log; do
    [[ -s $log ]] && { echo "--- $log"; tail -n 20 "$log"; }
  done
}
flow_cleanup() {
  xs_cleanup
  if dpkg-query -W -f='${Status}' morvanta 2>/dev/null | grep -qv 'not-installed'; then
    dpkg -P morvanta >/dev/null 2>&1 || echo "cleanup: dpkg -P morvanta failed" >&2
  fi
  getent passwd "$member" >/dev/null && userdel "$member"
  if ! $group_existed && getent group morvanta >/dev/null; then groupdel morvanta; fi
}
trap flow_cleanup EXIT

ok() { echo "ok: $*"; }
mode_of() { stat -c '%U:%G %a %F' "$1" 2>&1; }
expect_mode() {
  local got
  got=$(mode_of "$1")
  [[ $got == "$2" ]] || fail "$1 is '$got', expected '$2'"
}
status_of() { dpkg-query -W -f='${Status} ${Version}' morvanta 2>/dev/null; }
# The station's own files: every entry's owner, mode, size, time and content.
station_state() {
  find "$program_dir/Settings.ini" "$program_dir/Logs" -printf '%p %u:%g %m %s %T@\n' | sort
  find "$program_dir/Settings.ini" "$program_dir/Logs" -type f -exec sha256sum {} + | sort
}
dpkg_do() {
  timeout 300 dpkg "$@" >"$work/dpkg.log" 2>&1 || fail "dpkg $* failed"
}

deb_from "$source_arg" "$work/cpack" || exit 1
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb ($version)"

# --- install ------------------------------------------------------------------
dpkg_do -i "$deb"
[[ $(status_of) == "install ok installed $version" ]] || fail "after dpkg -i: $(status_of)"
gid=$(getent group morvanta | cut -d: -f3)
[[ -n $gid ]] || fail "no group morvanta"
$group_existed || ((gid < 1000)) || fail "group morvanta has gid $gid, not a system group"
expect_mode "$program_dir" "root:root 755 directory"
expect_mode "$program_dir/Settings.ini" "root:morvanta 664 regular file"
expect_mode "$program_dir/Logs" "root:morvanta 2775 directory"
cmp -s "$program_dir/Settings.ini" /usr/share/morvanta/Settings.ini.template ||
  fail "Settings.ini is not the template"
[[ $(readlink /usr/bin/morvanta) == "$program_dir/morvanta" ]] || fail "/usr/bin/morvanta does not lead to $program_dir"
[[ $(PATH=/usr/bin:/bin morvanta --version 2>&1) == "morvanta $version" ]] || fail "morvanta --version: $(morvanta --version 2>&1)"
ok "installed: group morvanta ($gid), Settings.ini root:morvanta 0664, Logs/ root:morvanta 2775, morvanta --version"

# The administrator enters the archive's address (the dialog refuses to save
# without a port), editing the file in place as an editor run by root would.
ini="$program_dir/Settings.ini"
awk '{ print } $0 == "[Query]\r" { printf "AET=ARCHIVE\r\nIP=127.0.0.1\r\nPort=11112\r\n" }' "$ini" >"$work/configured.ini"
cat "$work/configured.ini" >"$ini"
tr -d '\r' <"$ini" | grep -qx 'Port=11112' || fail "could not configure the archive in $ini"

# --- the station's users ----------------------------------------------------
useradd --system --no-create-home --shell /usr/sbin/nologin --groups morvanta "$member" ||
  fail "useradd $member failed"
chmod 755 "$work"
for user in "$member" nobody; do
  mkdir -p "$work/$user/home" "$work/$user/runtime"
  chown -R "$user:" "$work/$user"
  chmod 700 "$work/$user/runtime"
done
# as_user <user> <command...>: runs the command as the user with the user's
# groups, a home and a runtime folder of its own, the PATH a session has.
as_user() {
  local user=$1
  shift
  setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --init-groups \
    env HOME="$work/$user/home" XDG_CONFIG_HOME="$work/$user/home/.config" \
    XDG_RUNTIME_DIR="$work/$user/runtime" PATH=/usr/local/bin:/usr/bin:/bin "$@"
}
as_user "$member" id -nG | grep -qw morvanta || fail "$member is not in the group morvanta"

start_x_session 96

# The window shows and the program ends by itself after its first paint.
for user in "$member" nobody; do
  as_user "$user" env MORVANTA_EXIT_WHEN_SHOWN=1 timeout 60 morvanta \
    >"$work/$user/shown.log" 2>&1 || fail "$user: morvanta did not show its window: $(tail -n 5 "$work/$user/shown.log")"
done
ok "the window shows for $member and for nobody"

# The TLS module the program loads when TLS is on: readable by any user, and
# every library it needs is there once the package's Depends are.
module="$program_dir/morvanta-tls.so"
expect_mode "$module" "root:root 644 regular file"
module_libraries=$(as_user nobody ldd "$module" 2>&1) || fail "ldd of $module as nobody: $module_libraries"
grep -q 'not found' <<<"$module_libraries" && fail "the TLS module lacks libraries: $module_libraries"
grep -q 'libssl\.so' <<<"$module_libraries" || fail "the TLS module does not load OpenSSL: $module_libraries"
ok "the TLS module is readable by nobody and its libraries are installed"

process_ended() { ! kill -0 "$1" 2>/dev/null; }
dialog_open() { [[ $(windows_titled Settings) -eq 1 ]]; }
# A message box is a second window with the program's title.
message_shown() { [[ $(windows_titled Morvanta) -ge 2 ]]; }
dialog_closed() { [[ $(windows_titled Settings) -eq 0 && $(windows_titled Login) -eq 0 ]]; }
closed_or_message() { dialog_closed || message_shown; }

# start_as <user>: `morvanta` from the PATH as the user; waits for its window.
start_as() {
  local user=$1
  as_user "$user" morvanta >"$work/$user/stdout.log" 2>"$work/$user/stderr.log" &
  program_pid=$!
  pids+=("$program_pid")
  wait_until 60 "the Morvanta window of $user" eval '[[ $(windows_titled Morvanta) -ge 1 ]]'
  main=$(($(window_id Morvanta)))
  activate "$main"
}

# add_node_and_ok: Settings menu, password, Add New, alias and AE title, OK.
# Leaves the outcome in $save: "saved" (the dialog closed) or "refused" (a
# message box came up and the dialog stayed open).
add_node_and_ok() {
  settings_add_node "CT Lab" CTLAB
  dialog=$settings_dialog
  wait_until 20 "the dialog to close or a message" closed_or_message
  if message_shown; then save=refused; else save=saved; fi
}

close_program() {
  wmctrl -i -c "$main"
  wait_until 20 "morvanta to exit" process_ended "$program_pid"
  wait "$program_pid"
  local rc=$?
  [[ $rc -eq 0 ]] || fail "morvanta exited with $rc"
}

# The node button cmdNode(0), 1860 x 420 twips at 90, 1935 in the search panel
# (at 135, 765): bright green while it is the active node. The one look at the
# screen this test takes.
node_x=77
node_y=$((25 + 194))
node_button_green() {
  local greenness
  greenness=$(import -window "$main" -crop "8x8+$((node_x - 4))+$((node_y - 4))" +repage \
    -format '%[fx:mean.g - mean.r]' info: 2>/dev/null) || return 1
  awk -v g="$greenness" 'BEGIN { exit !(g > 0.5) }'
}

ini_has() { tr -d '\r' <"$program_dir/Settings.ini" | grep -qxF "$1"; }

# A member saves.
start_as "$member"
add_node_and_ok
[[ $save == saved ]] || fail "$member's save was refused; Settings.ini is $(mode_of "$program_dir/Settings.ini") in a folder that is $(mode_of "$program_dir")"
wait_until 5 "Settings.ini to hold the node" ini_has 'Node0=CT Lab|CTLAB'
# The node's button, cmdNode(0): a click makes it the active node, saved at once.
wait_until 10 "the Morvanta window to be active" is_active "$main"
node_button_green && fail "the node button is green before it was chosen"
xdotool mousemove --window "$main" "$node_x" "$node_y" click 1
wait_until 10 "a click on the node button to be saved" ini_has 'Active=CTLAB'
wait_until 10 "the chosen node button to turn green" node_button_green
close_program
expect_mode "$program_dir/Settings.ini" "root:morvanta 664 regular file"
ok "$member saved a node and the active node in $program_dir/Settings.ini; it stays root:morvanta 0664"

# Another user reads the settings but cannot change them, and is told so.
cp -p "$program_dir/Settings.ini" "$work/settings-before-nobody"
before=$(station_state)
start_as nobody
# The member's node, read from the settings: its button is there and active.
wait_until 10 "nobody's window to show the member's active node" node_button_green
add_node_and_ok
[[ $save == refused ]] || fail "nobody's save was not refused"
box=$(wmctrl -l | awk '{ id = $1; $1 = $2 = $3 = ""; sub(/^ +/, "") } $0 == "Morvanta" { print id }' |
  while read -r id; do (( $((id)) != main )) && echo $((id)); done | head -n1)
activate "$box"
xdotool key Return
wait_until 10 "the message to close" eval '! message_shown'
dialog_open || fail "the settings dialog closed after a refused save"
wait_until 10 "the settings dialog to be active" is_active "$dialog"
xdotool key Escape
wait_until 10 "the settings dialog to close" dialog_closed
activate "$main"
close_program
cmp -s "$program_dir/Settings.ini" "$work/settings-before-nobody" || fail "nobody changed Settings.ini"
[[ $(station_state) == "$before" ]] || fail "nobody's run changed the station's files"
ok "nobody ran it and saw the member's active node; the save was refused with a message; Settings.ini and Logs/ unchanged"

# --- upgrade, reinstall, remove, purge ------------------------------------------
# The station's log folder as it is after a while in use.
printf '01.01.2026 08:00:00 - 1001 - test line - cmdSearch_Click\r\n' >"$program_dir/Logs/Error.log"
chown root:morvanta "$program_dir/Logs/Error.log"
chmod 664 "$program_dir/Logs/Error.log"
state=$(station_state)

next_version="$version+1"
dpkg --compare-versions "$next_version" gt "$version" || fail "$next_version is not above $version"
dpkg-deb -R "$deb" "$work/next" || fail "dpkg-deb -R failed"
sed -i "s/^Version: .*/Version: $next_version/" "$work/next/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/next" "$work/next.deb" >/dev/null || fail "dpkg-deb -b failed"

dpkg_do -i "$work/next.deb"
[[ $(status_of) == "install ok installed $next_version" ]] || fail "after the upgrade: $(status_of)"
[[ $(station_state) == "$state" ]] || fail "the upgrade changed Settings.ini or Logs/: $(diff <(echo "$state") <(station_state))"
ok "upgrade $version -> $next_version kept Settings.ini and Logs/ untouched"

dpkg_do -i "$work/next.deb"
[[ $(status_of) == "install ok installed $next_version" ]] || fail "after the reinstall: $(status_of)"
[[ $(station_state) == "$state" ]] || fail "the reinstall changed Settings.ini or Logs/: $(diff <(echo "$state") <(station_state))"
ok "reinstall kept Settings.ini and Logs/ untouched"

dpkg_do -r morvanta
[[ -e $program_dir/morvanta || -e /usr/bin/morvanta || -L /usr/bin/morvanta ]] && fail "the program is still there after dpkg -r"
[[ -e /usr/share/applications/morvanta.desktop ]] && fail "the menu entry is still there after dpkg -r"
[[ $(station_state) == "$state" ]] || fail "dpkg -r changed Settings.ini or Logs/: $(diff <(echo "$state") <(station_state))"
ok "remove took the program and kept Settings.ini and Logs/ untouched ($(status_of))"

dpkg_do -P morvanta
[[ -e $program_dir ]] && fail "$program_dir is still there after the purge: $(ls -la "$program_dir")"
dpkg-query -W -f='${Status}' morvanta 2>/dev/null | grep -qv 'not-installed' && fail "still known to dpkg: $(status_of)"
ok "purge removed $program_dir"
echo "install flow passed"
