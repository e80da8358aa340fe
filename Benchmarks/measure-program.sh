#!/bin/bash
# Whole-program cost: starts the built Stayloom headless with a temporary HOME, samples
# /proc/<pid>/stat and /proc/<pid>/status for a while, and prints the CPU time it used (as % of
# one core) and its peak resident memory. Two runs: an idle machine, then one with two busy
# processes named like agents.
#
# Usage: Benchmarks/measure-program.sh [path/to/Stayloom] [seconds per run]
#   defaults: build/release/Sources/NodwardenApp/Stayloom (else build/dev/...), 300 seconds.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
program="${1:-}"
if [[ -z "$program" ]]; then
    for candidate in "$here/build/release/Sources/NodwardenApp/Stayloom" \
                     "$here/build/dev/Sources/NodwardenApp/Stayloom"; do
        if [[ -x "$candidate" ]]; then program="$candidate"; break; fi
    done
fi
seconds="${2:-300}"
if [[ -z "$program" || ! -x "$program" ]]; then
    echo "Stayloom binary not found; build it first or pass its path" >&2
    exit 2
fi

ticks_per_second="$(getconf CLK_TCK)"
scratch="$(mktemp -d)"
busy_pids=()
program_pid=""
cleanup() {
    [[ -n "$program_pid" ]] && kill -TERM "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
    for pid in "${busy_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$scratch"
}
trap cleanup EXIT

# utime + stime of one process, in clock ticks (fields 14 and 15, counted after the ")").
cpu_ticks() {
    local stat
    stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
    stat="${stat##*) }"
    set -- $stat
    echo $(( ${12} + ${13} ))
}

# One measured run; $1 names it, $2 is the number of busy agent-named processes.
measure() {
    local name="$1" busy="$2"
    local home="$scratch/$name"
    mkdir -p "$home/.config/Stayloom" "$home/agents"
    # Earlier runs left accepted terms, a finished first run and the watching mode.
    cat > "$home/.config/Stayloom/Stayloom.conf" <<INI
[General]
Stayloom.acceptedLegalVersion=1.6
Stayloom.hasCompletedOnboarding=true
Nodwarden.mode=watchAgentUI
INI
    busy_pids=()
    local agents=(claude codex)
    for ((index = 0; index < busy; ++index)); do
        ln -sf /bin/sh "$home/agents/${agents[index]}"
        "$home/agents/${agents[index]}" -c 'while :; do :; done' &
        busy_pids+=("$!")
    done

    env -i HOME="$home" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 TZ=UTC \
        XDG_RUNTIME_DIR="$home/no-runtime" "$program" < /dev/null > "$home/out.txt" 2>&1 &
    program_pid=$!
    sleep 1
    local start_ticks start_ns peak=0 samples=0
    start_ticks="$(cpu_ticks "$program_pid")"
    start_ns="$(date +%s%N)"
    local end=$((SECONDS + seconds))
    while ((SECONDS < end)); do
        local rss
        rss="$(awk '/^VmHWM:/ {print $2}' "/proc/$program_pid/status" 2>/dev/null || true)"
        if [[ -z "$rss" ]]; then
            echo "$name: Stayloom ended early; its output:" >&2
            cat "$home/out.txt" >&2
            return 1
        fi
        ((rss > peak)) && peak=$rss
        samples=$((samples + 1))
        sleep 1
    done
    local end_ticks end_ns
    end_ticks="$(cpu_ticks "$program_pid")"
    end_ns="$(date +%s%N)"
    kill -TERM "$program_pid"
    wait "$program_pid" 2>/dev/null || true
    program_pid=""
    for pid in "${busy_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; done
    busy_pids=()

    awk -v name="$name" -v ticks=$((end_ticks - start_ticks)) -v hz="$ticks_per_second" \
        -v ns=$((end_ns - start_ns)) -v peak="$peak" -v samples="$samples" 'BEGIN {
            wall = ns / 1e9
            printf "%-14s wall %6.1f s  cpu %6.2f s  = %5.2f %% of one core  peak RSS %6.1f MiB  (%d samples)\n",
                   name, wall, ticks / hz, 100 * ticks / hz / wall, peak / 1024, samples
        }'
    echo "  last status: $(grep -E '^(Off|Watching|Keeping Awake|Idle)' "$home/out.txt" | tail -n 1)"
    if [[ "$busy" -gt 0 ]] && ! grep -q "Keeping Awake" "$home/out.txt"; then
        echo "  note: the run never reported keeping awake" >&2
    fi
}

echo "Stayloom: $program, $seconds s per run"
measure idle 0
measure two-agents 2
