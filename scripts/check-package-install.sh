#!/usr/bin/env bash
# Installs a built Stayloom package for real, checks it as a user would meet it, and removes it
# again: `stayloom` on PATH, the menu entry and its icon, the installed helpers accepted by the
# program (no build tree, no refusal of the sleep switch), and the polkit action as polkitd reads
# it. Needs root and apt; polkitd runs on a private system bus so no system service is touched.
# Usage: scripts/check-package-install.sh build/package/stayloom_<version>_<arch>.deb
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/stayloom_<version>_<arch>.deb" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "skip: installing the package needs root"
  exit 0
fi
deb=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

if dpkg-query -W -f='${Status}' stayloom 2>/dev/null | grep -q "install ok installed"; then
  echo "stayloom is already installed; this check installs and removes its own copy only" >&2
  exit 1
fi

work=$(mktemp -d)
chmod 0755 "$work" # polkitd drops to its own user and must reach the bus socket in here
daemons=()
cleanup() {
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -o DPkg::Lock::Timeout=300 stayloom >/dev/null ||
    echo "could not remove stayloom again" >&2
  rm -rf "$work"
}
trap cleanup EXIT

echo "== apt install $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2
  exit 1
}

if [ "$(command -v stayloom)" = /usr/bin/stayloom ]; then
  pass "stayloom on PATH is /usr/bin/stayloom"
else
  fail "stayloom on PATH is '$(command -v stayloom || true)'"
fi
desktop=/usr/share/applications/org.stayloom.Stayloom.desktop
if [ -f "$desktop" ] && desktop-file-validate "$desktop"; then
  pass "menu entry $desktop"
else
  fail "no valid menu entry at $desktop"
fi
icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null || true)
if [ -n "$icon" ] && [ -f "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ]; then
  pass "menu entry icon $icon in the hicolor theme"
elif [ ! -d "$repo/data/icons/hicolor" ]; then
  echo "skip: menu entry icon: data/icons/hicolor does not exist yet"
else
  fail "the menu entry's icon '$icon' is not in the hicolor theme"
fi

# A short start in a fresh home on Qt's offscreen display; its output says whether the desktop
# module loaded, the log whether a helper was missing or the sleep switch was refused as something
# the user could change.
mkdir -p "$work/home" "$work/runtime"
chmod 0700 "$work/runtime"
timeout -s TERM 5 env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
  QT_QPA_PLATFORM=offscreen stayloom </dev/null >"$work/start.out" 2>&1 || true
if grep -q 'Cannot load the desktop interface' "$work/start.out"; then
  fail "the installed program did not load its desktop module: $(cat "$work/start.out")"
else
  pass "the installed program loaded its desktop module from beside its library"
fi
log=$(find "$work/home" -name '*.log' -exec cat {} + 2>/dev/null || true)
if [ -z "$log" ]; then
  fail "the installed program wrote no log: $(cat "$work/start.out")"
elif printf '%s\n' "$log" | grep -E 'Helper program .* not found|Refusing to run'; then
  fail "the installed program did not accept its installed helpers"
else
  pass "the installed program found its helpers and accepts the installed sleep switch"
fi

echo "== polkit action"
dbus-daemon --config-file=/usr/share/dbus-1/system.conf --address="unix:path=$work/system_bus" \
  --nofork --nopidfile >/dev/null 2>"$work/dbus.err" &
daemons+=($!)
for _ in $(seq 50); do [ -S "$work/system_bus" ] && break; sleep 0.1; done
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus"
/usr/lib/polkit-1/polkitd --no-debug >"$work/polkitd.out" 2>&1 &
daemons+=($!)
action=org.stayloom.Stayloom.sleep-switch
for _ in $(seq 50); do pkaction --action-id "$action" --verbose >"$work/pkaction" 2>&1 && break; sleep 0.2; done
cat "$work/pkaction"
if grep -q "org.freedesktop.policykit.exec.path -> /usr/libexec/stayloom/stayloom-sleep-switch" \
  "$work/pkaction" && grep -q 'implicit active: *auth_admin_keep' "$work/pkaction"; then
  pass "pkaction knows $action for the installed sleep switch"
elif [ -z "$(find "$repo/data/polkit" -name '*.policy' 2>/dev/null)" ]; then
  echo "skip: polkit action: data/polkit has no policy yet"
else
  fail "pkaction does not show $action for /usr/libexec/stayloom/stayloom-sleep-switch"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures install check(s) failed" >&2
  exit 1
fi
echo "install checks passed; stayloom is removed again"
