#!/bin/sh
# Stands in for the Linux program in tests/e2e/app_flows.sh and
# echo_move_flows.sh, which copy it into a folder of its own, write
# Settings.ini there and start it: the Windows program folder
# ($MORVANTA_WINDOWS_STAGE) is copied beside it and morvanta.exe runs under
# wine in this process, so the test's process id is the program's.
d=$(dirname "$0")
cp -a "${MORVANTA_WINDOWS_STAGE:?the Windows program folder}"/. "$d"/
export WINEDEBUG=-all
exec /usr/lib/wine/wine64 "$d/morvanta.exe"
