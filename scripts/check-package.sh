#!/usr/bin/env bash
# Checks a built Stayloom package: lintian (no error, no warning that is not overridden with a
# reason in data/debian/lintian-overrides), the desktop entry and the AppStream metainfo as
# installed, then the program unpacked into a temporary root, run from there.
# Usage: scripts/check-package.sh build/package/stayloom_<version>_<arch>.deb
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/stayloom_<version>_<arch>.deb (exactly one; run make package first)" >&2
  exit 2
fi
deb=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root

echo "== lintian"
lintian_fail_on=error,warning
lintian_output=$(lintian --display-info --fail-on "$lintian_fail_on" "$deb" 2>&1) && lintian_status=0 ||
  lintian_status=$?
printf '%s\n' "$lintian_output" | grep -v '^running with root privileges is not recommended!$' || true
if [ "$lintian_status" -eq 0 ]; then
  pass "lintian: no errors or warnings"
else
  fail "lintian reports errors or warnings (status $lintian_status)"
fi

echo "== contents"
dpkg-deb -x "$deb" "$root"
# Ownership and modes as dpkg will install them (dpkg -x applies neither to an unprivileged
# extraction), read from the archive itself.
contents=$(dpkg-deb -c "$deb")
for helper in stayloom-inhibit stayloom-sleep-switch; do
  if printf '%s\n' "$contents" | grep -qE "^-rwxr-xr-x root/root .* \./usr/libexec/stayloom/$helper\$"; then
    pass "/usr/libexec/stayloom/$helper is root-owned 0755"
  else
    fail "/usr/libexec/stayloom/$helper is missing or not root-owned 0755"
  fi
done
unsafe=$(printf '%s\n' "$contents" | awk '$2 != "root/root" ||
  (substr($1, 1, 1) != "l" && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w"))')
if [ -n "$unsafe" ]; then
  fail "entries not root-owned or writable by group or others: $unsafe"
else
  pass "every entry is root-owned and writable by root only"
fi

echo "== desktop entry and metainfo"
desktop=$root/usr/share/applications/org.stayloom.Stayloom.desktop
metainfo=$root/usr/share/metainfo/org.stayloom.Stayloom.metainfo.xml
if desktop-file-validate "$desktop"; then pass "desktop-file-validate"; else fail "desktop-file-validate"; fi
if appstreamcli validate --no-net "$metainfo"; then pass "appstreamcli validate"; else fail "appstreamcli validate"; fi
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
if [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ]; then
  pass "the desktop entry's icon $icon_name is in the hicolor theme"
elif [ ! -d "$repo/data/icons/hicolor" ]; then
  echo "skip: icon $icon_name: data/icons/hicolor does not exist yet"
else
  fail "the desktop entry's icon $icon_name is not in /usr/share/icons/hicolor/scalable/apps"
fi

echo "== the program's library search path"
program=$root/usr/bin/stayloom
runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*Library runpath: \[\(.*\)\]/\1/p')
case "$runpath" in
  /usr/lib/*/stayloom) pass "RUNPATH $runpath" ;;
  *) fail "RUNPATH of /usr/bin/stayloom is '$runpath', expected /usr/lib/<triplet>/stayloom" ;;
esac
# The program's own libraries (the core, and the model with the terminal face), and the desktop
# face's module that it loads from beside its library when a display opens.
needed_own=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(libNodwarden[^]]*\)\]/\1/p')
for library in libNodwardenCore libNodwardenApp; do
  needed=$(printf '%s\n' "$needed_own" | grep "^$library\.so" || true)
  if [ -n "$needed" ] && [ -e "$root$runpath/$needed" ]; then
    pass "$needed is in the package at $runpath"
  else
    fail "the program's library $library ('$needed') is not in the package at $runpath"
  fi
done
if [ -f "$root$runpath/stayloom-desktop.so" ]; then
  pass "the desktop module stayloom-desktop.so is in the package at $runpath"
else
  fail "the desktop module stayloom-desktop.so is not in the package at $runpath"
fi
for file in "$root"/usr/lib/*/stayloom/* "$root"/usr/libexec/stayloom/*; do
  if readelf -d "$file" 2>/dev/null | grep -qE '\((RPATH|RUNPATH)\)'; then
    fail "${file#"$root"} carries a library search path it does not need"
  fi
done

# The RUNPATH is absolute, as it must be for the installed program; in the unpacked root the same
# folder sits under $root, so these runs (and only these) point the loader there. Everything else
# (the helpers next to the program, Qt, libsystemd) is found as on an installed system.
unpacked=(env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_STATE_HOME="$work/home/.local/state"
  XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH="$root$runpath"
  "$program")
mkdir -p "$work/home" "$work/runtime"
chmod 0700 "$work/runtime"

echo "== the unpacked program"
version=$(dpkg-deb -f "$deb" Version)
if output=$(timeout 20 "${unpacked[@]}" --version </dev/null 2>&1) && [[ "$output" == *"${version%-*}"* ]]; then
  pass "stayloom --version: $output"
else
  fail "stayloom --version printed '$output', expected the version ${version%-*}"
fi
# The manual page must keep up with the command line: every command that --help lists.
manual=$(zcat "$root/usr/share/man/man1/stayloom.1.gz" | sed 's/\\-/-/g')
commands=$(timeout 20 "${unpacked[@]}" --help </dev/null 2>&1 | sed -n '/^Commands/,/^$/p' |
  sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p')
if [ -z "$commands" ]; then
  fail "stayloom --help lists no commands"
fi
for command in $commands; do
  if printf '%s\n' "$manual" | grep -q "^\.B stayloom $command\b"; then
    pass "stayloom(1) shows the command $command"
  else
    fail "stayloom(1) does not show the command $command that stayloom --help lists"
  fi
done
status=0
output=$(timeout 20 "${unpacked[@]}" status </dev/null 2>&1) || status=$?
if [ "$status" -eq 3 ]; then
  pass "stayloom status with nothing running exits 3: $output"
else
  fail "stayloom status with nothing running exited $status, expected 3: $output"
fi

# A short start in a fresh home, on Qt's offscreen display: the program must load its desktop
# module and find both helpers in the unpacked root's /usr/libexec/stayloom (a package build never
# looks in the build tree).
timeout -s TERM 5 "${unpacked[@]}" </dev/null >"$work/start.out" 2>&1 || true
if grep -q 'Cannot load the desktop interface' "$work/start.out"; then
  fail "the unpacked program did not load its desktop module: $(cat "$work/start.out")"
else
  pass "the unpacked program loaded its desktop module"
fi
log=$(find "$work/home/.local/state" -name '*.log' -exec cat {} + 2>/dev/null || true)
if [ -z "$log" ]; then
  fail "the unpacked program wrote no log; its output was: $(cat "$work/start.out")"
elif printf '%s\n' "$log" | grep -q 'Helper program .* not found'; then
  fail "the unpacked program did not find its helpers: $(printf '%s\n' "$log" | grep 'not found')"
else
  pass "the unpacked program started and found its helpers in /usr/libexec/stayloom"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "package checks passed: $(basename "$deb")"
