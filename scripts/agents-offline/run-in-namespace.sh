#!/bin/sh
# Runs a command in a pid, mount and network namespace of its own with only loopback up, so the
# agents stay offline and no other process on the machine sees them (nor they it). Codex keeps its
# daemon's lock in one folder per user under /tmp; a private one keeps two rounds apart.
# usage: run-in-namespace.sh COMMAND [ARG...]
folder="/tmp/codex-daemon-$(id -u)"
mkdir -p "$folder"
exec unshare --pid --fork --mount-proc --net sh -c '
  ip link set lo up &&
  mount -t tmpfs -o mode=0700 tmpfs "$0" &&
  exec "$@"' "$folder" "$@"
