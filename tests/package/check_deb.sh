#!/bin/bash
# The Debian package as an administrator receives it, checked without
# installing it: its control data (name, the version `morvanta --version`
# prints, Depends computed from the binaries and the TLS module, the
# maintainer scripts), exactly the files it holds with their owners and modes
# (the program, its TLS module, the link in
# /usr/bin, desktop entry, icons, manual, copyright, settings template, and
# nothing else: no tests, no Settings.ini or Logs/ of its own), a desktop
# entry desktop-file-validate accepts, a manual page man renders without
# warnings, icons of the sizes their folders claim, a settings template in the
# program's file format, and no lintian errors or warnings.
#
# usage: check_deb.sh <package.deb | build dir with CPackConfig.cmake>

set -u
source_arg=${1:?usage: check_deb.sh <package.deb | build dir>}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/deb_source.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
section_failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# ok <what>: reports a group of checks passed, when none of them failed.
ok() {
  ((failures == section_failures)) && echo "ok: $*"
  section_failures=$failures
}

for tool in dpkg-deb desktop-file-validate man lintian identify rsvg-convert; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup)"; exit 1; }
done

deb_from "$source_arg" "$work/cpack" || exit 1
echo "package: $deb"
field() { dpkg-deb -f "$deb" "$1"; }

root="$work/root"
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x failed"; exit 1; }
control="$work/control"
dpkg-deb -e "$deb" "$control" || { echo "FAIL: dpkg-deb -e failed"; exit 1; }

# --- control data -----------------------------------------------------------
[[ $(field Package) == morvanta ]] || fail "Package is '$(field Package)'"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
  fail "Architecture is '$(field Architecture)'"
version=$(field Version)
program_version=$("$root/opt/morvanta/morvanta" --version 2>/dev/null)
[[ $program_version == "morvanta $version" ]] ||
  fail "the package is version '$version' but the program says '$program_version'"
changelog_version=$(zcat "$root/usr/share/doc/morvanta/changelog.gz" | sed -n '1s/^morvanta (\([^)]*\)).*/\1/p')
[[ $changelog_version == "$version" ]] || fail "the changelog's last entry is '$changelog_version', not $version"
ok "version $version, as morvanta --version and the changelog say"

# Depends comes from dpkg-shlibdeps: the libraries the binaries really load,
# with the versions they need, and nothing a test links.
depends=$(field Depends)
for wanted in 'libqt6widgets6 (>= ' 'libqt6core6 (>= ' 'libc6 (>= '; do
  [[ $depends == *"$wanted"* ]] || fail "Depends lacks '$wanted': $depends"
done
grep -Eq '(^|, )libdcmtk[0-9]+ \(>= [0-9.]+\)' <<<"$depends" || fail "Depends lacks libdcmtkN: $depends"
grep -Eq 'gtest|gmock|benchmark|qt6-base-dev' <<<"$depends" && fail "Depends names a build or test library: $depends"
ok "Depends: $depends"

# TLS lives in the module: the program itself does not load dcmtls or OpenSSL
# at start-up, and Depends still covers every library the module loads.
needed=$(readelf -d "$root/opt/morvanta/morvanta" 2>&1 | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[[ -n $needed ]] || fail "readelf found no libraries the program needs"
grep -E '^lib(dcmtls|ssl|crypto)\.' <<<"$needed" &&
  fail "the program itself needs TLS libraries: $(tr '\n' ' ' <<<"$needed")"
readelf -d "$root/opt/morvanta/morvanta-tls.so" | grep -q 'NEEDED.*\[libssl\.' ||
  fail "the TLS module does not need libssl"
mkdir -p "$work/shlibdeps/debian" && : >"$work/shlibdeps/debian/control"
module_depends=$(cd "$work/shlibdeps" &&
  dpkg-shlibdeps -O -e "$root/opt/morvanta/morvanta-tls.so" 2>"$work/shlibdeps.log" |
  sed -n 's/^shlibs:Depends=//p')
[[ -n $module_depends ]] || fail "dpkg-shlibdeps found nothing for the TLS module: $(cat "$work/shlibdeps.log")"
while IFS= read -r dependency; do
  [[ -z $dependency ]] && continue
  grep -qF -- "${dependency%% *}" <<<"$depends" || fail "Depends lacks '$dependency' of the TLS module: $depends"
done < <(sed 's/, /\n/g' <<<"$module_depends")
ok "TLS in the module alone; Depends covers it ($(grep -o 'libssl[^,]*' <<<"$module_depends"))"

for script in postinst postrm; do
  if [[ ! -x $control/$script ]]; then
    fail "maintainer script $script missing or not executable"
    continue
  fi
  sh -n "$control/$script" || fail "$script is not valid sh"
  head -n1 "$control/$script" | grep -qx '#!/bin/sh' || fail "$script does not start with #!/bin/sh"
done
for script in preinst prerm config; do
  [[ -e $control/$script ]] && fail "unexpected maintainer script $script"
done
grep -q 'groupadd --system morvanta' "$control/postinst" || fail "postinst does not create the group"
grep -q 'rm -rf /opt/morvanta' "$control/postrm" || fail "postrm does not remove /opt/morvanta on purge"
ok "maintainer scripts postinst and postrm"

# --- files ------------------------------------------------------------------
# Every entry with its type, mode, owner and link target; directories apart.
listing=$(dpkg-deb -c "$deb" | awk '
  { path = $6; for (i = 7; i <= NF; i++) path = path " " $i }
  $1 !~ /^d/ { print $1, $2, path }' | sort -k3)
expected=$(sort -k3 <<'LIST'
-rwxr-xr-x root/root ./opt/morvanta/morvanta
-rwxr-xr-x root/root ./opt/morvanta/morvanta-archive
-rw-r--r-- root/root ./opt/morvanta/morvanta-tls.so
lrwxrwxrwx root/root ./usr/bin/morvanta -> /opt/morvanta/morvanta
-rw-r--r-- root/root ./usr/share/applications/morvanta.desktop
-rw-r--r-- root/root ./usr/share/doc/morvanta/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/morvanta/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/256x256/apps/morvanta.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/48x48/apps/morvanta.png
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/morvanta.svg
-rw-r--r-- root/root ./usr/share/lintian/overrides/morvanta
-rw-r--r-- root/root ./usr/share/man/man1/morvanta.1.gz
-rw-r--r-- root/root ./usr/share/morvanta/Settings.ini.template
LIST
)
if [[ $listing != "$expected" ]]; then
  fail "the package's files differ from the layout (< package, > expected):"
  diff <(echo "$listing") <(echo "$expected") >&2
fi
bad_dirs=$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root")')
[[ -z $bad_dirs ]] || fail "folders not root-owned 0755: $bad_dirs"
ok "the files and their modes"

# --- desktop entry, manual, icons, template ---------------------------------
desktop="$root/usr/share/applications/morvanta.desktop"
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate has remarks: $out"
grep -qx 'Exec=morvanta' "$desktop" || fail "the menu entry does not start /usr/bin/morvanta"
grep -qx 'Icon=morvanta' "$desktop" || fail "the menu entry does not name the icon"
ok "desktop entry"

manual="$root/usr/share/man/man1/morvanta.1.gz"
gzip -t "$manual" || fail "the manual is not valid gzip"
# A time stamp inside would make equal sources give different packages.
[[ $(od -An -tu4 -j4 -N4 "$manual" | tr -d ' ') == 0 ]] || fail "the compressed manual carries a time stamp"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man warns: $warnings"
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$manual" 2>/dev/null | col -b)
for phrase in 'morvanta - search the DICOM archive' '--version' '/opt/morvanta/Settings.ini' \
    '/opt/morvanta/Logs/' '/opt/morvanta/morvanta-tls.so' "Morvanta $version" 'not a security control'; do
  grep -qF -- "$phrase" <<<"$text" || fail "the manual lacks '$phrase'"
done
ok "manual page"

# The licence the source carries, in the form Debian's tools read.
copyright="$root/usr/share/doc/morvanta/copyright"
grep -qx 'License: Apache-2.0' "$copyright" || fail "the copyright file does not name the Apache License 2.0"
grep -qF '/usr/share/common-licenses/Apache-2.0' "$copyright" || fail "the copyright file does not point to the licence"
cmp -s <(sed -n '1,10p' "$(dirname "$0")/../../LICENSE") <(sed -n '1,10p' /usr/share/common-licenses/Apache-2.0) ||
  fail "LICENSE is not the Apache License 2.0"
ok "copyright"

for size in 48 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/morvanta.png"
  got=$(identify -format '%m %wx%h' "$png" 2>&1)
  [[ $got == "PNG ${size}x${size}" ]] || fail "icon in ${size}x${size}: $got"
done
svg="$root/usr/share/icons/hicolor/scalable/apps/morvanta.svg"
grep -q '<svg xmlns="http://www.w3.org/2000/svg"' "$svg" || fail "the scalable icon is not an SVG"
rsvg-convert -w 32 -h 32 "$svg" >/dev/null || fail "the scalable icon does not render"
ok "icons"

template="$root/usr/share/morvanta/Settings.ini.template"
lines=$(wc -l <"$template")
crlf=$(grep -c $'\r$' "$template")
[[ $lines -gt 0 && $lines -eq $crlf ]] || fail "template: $crlf of $lines lines end in CR LF"
# Windows-1252 leaves five byte values undefined.
LC_ALL=C grep -q $'[\x81\x8d\x8f\x90\x9d]' "$template" && fail "template holds bytes Windows-1252 does not define"
for section in Local Query GENERAL Forward; do
  grep -qx "\[$section\]"$'\r' "$template" || fail "template lacks [$section]"
done
# Values are left to the station: every line is a comment, a section or empty.
stray=$(tr -d '\r' <"$template" | grep -Ev '^(;.*|\[[A-Za-z]+\]|)$')
[[ -z $stray ]] || fail "template sets values: $stray"
ok "settings template"

# --- lintian ------------------------------------------------------------------
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
lintian_rc=$?
lintian_out=$(grep -v 'running with root privileges' "$work/lintian.log")
[[ $lintian_rc -eq 0 ]] || fail "lintian (exit $lintian_rc): $lintian_out"
ok "lintian: no errors or warnings${lintian_out:+ (remarks: $(tr '\n' ' ' <<<"$lintian_out"))}"

[[ $failures -eq 0 ]] || { echo "$failures check(s) failed"; exit 1; }
echo "all package checks passed"
