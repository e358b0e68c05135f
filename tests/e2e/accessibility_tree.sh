#!/bin/bash
# The real binary as a screen reader meets it: under Xvfb, in a D-Bus session
# of its own with the AT-SPI bus, its main window walked by accessibility_tree.py.
# Never skipped: without dbus-run-session, the AT-SPI bus or pyatspi it fails.

set -u
binary=${1:?usage: accessibility_tree.sh <morvanta binary>}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [[ -z ${MORVANTA_A11Y_SESSION:-} ]]; then
  command -v dbus-run-session >/dev/null || { echo "FAIL: dbus-run-session is not installed (package dbus)"; exit 1; }
  [[ -x /usr/libexec/at-spi-bus-launcher ]] || { echo "FAIL: at-spi2-core is not installed"; exit 1; }
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "FAIL: python3-pyatspi is not installed"; exit 1; }
  MORVANTA_A11Y_SESSION=1 exec timeout -k 5 200 dbus-run-session -- "$0" "$@"
fi

source "$here/../../scripts/lib/xsession.sh"
xs_failure_details() {
  echo "--- program stderr"; cat "$dir/stderr.log" 2>/dev/null
}

start_x_session 96
dir="$work/program"
mkdir -p "$dir"
cp "$binary" "$dir/morvanta"
printf '[Local]\r\nAET=WS1\r\n[GENERAL]\r\nStudyDate=1\r\n[Forward]\r\nNode0=CT room|CTAE\r\nNode1=MR room|MRAE\r\nActive=CTAE\r\n' \
  >"$dir/Settings.ini"

# Qt puts its windows on the AT-SPI bus when a screen reader is running; here
# the test is the screen reader.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export NO_AT_BRIDGE=0
start_program "$dir"

timeout -k 5 120 /usr/bin/python3 "$here/accessibility_tree.py" || fail "the accessibility tree is not as expected"
echo "ok: the main window's accessibility tree"
