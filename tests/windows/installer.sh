#!/usr/bin/env bash
# The Windows installer under wine, silent, into a Windows of its own: it puts
# the program folder in Program Files with Settings.ini (CR LF) and Logs\ and a
# Start-menu entry; a second install keeps a changed Settings.ini and the logs;
# the uninstaller takes the program and keeps them, unless asked (/PURGE).
# usage: installer.sh <setup.exe>
set -euo pipefail
setup=$1
work=$(mktemp -d /tmp/morvanta-installer.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
folder="$WINEPREFIX/drive_c/Program Files/Morvanta"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Morvanta.lnk"
fail() { echo "FAIL: $*" >&2; exit 1; }
# The uninstaller starts a copy of itself and returns: done when the prefix
# has no process left.
uninstall() { timeout 120 "$wine" "$folder/Uninstall.exe" /S "$@" && timeout 120 "$wineserver" -w; }

timeout 120 "$wine" "$setup" /S
for f in morvanta.exe morvanta-archive.exe Qt6Widgets.dll platforms/qwindows.dll Uninstall.exe Settings.ini; do
  [ -f "$folder/$f" ] || fail "installed folder lacks $f"
done
[ -d "$folder/Logs" ] || fail "no Logs folder"
[ -f "$shortcut" ] || fail "no Start-menu entry"
grep -q $'^\\[Query\\]\r$' "$folder/Settings.ini" || fail "Settings.ini is not the template in CR LF"

# The station's own Settings.ini and logs survive an install over them.
printf 'Kept=1\r\n' >> "$folder/Settings.ini"
printf 'a line\r\n' > "$folder/Logs/Error.log"
timeout 120 "$wine" "$setup" /S
grep -q '^Kept=1' "$folder/Settings.ini" || fail "reinstall replaced Settings.ini"
[ -f "$folder/Logs/Error.log" ] || fail "reinstall removed the logs"

uninstall
[ ! -e "$folder/morvanta.exe" ] && [ ! -e "$folder/Qt6Core.dll" ] && [ ! -e "$folder/platforms" ] ||
  fail "the uninstaller left the program"
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu entry"
grep -q '^Kept=1' "$folder/Settings.ini" || fail "the uninstaller took Settings.ini unasked"
[ -f "$folder/Logs/Error.log" ] || fail "the uninstaller took the logs unasked"

timeout 120 "$wine" "$setup" /S
uninstall /PURGE
[ ! -e "$folder/Settings.ini" ] && [ ! -e "$folder/Logs" ] || fail "/PURGE kept Settings.ini or the logs"
echo "ok: installed, reinstalled over a changed Settings.ini, uninstalled keeping and then purging it"
