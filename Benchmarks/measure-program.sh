#!/bin/bash
# Whole-program cost: starts the built Stayloom headless with a temporary HOME, samples
# /proc/<pid>/stat and /proc/<pid>/status for a while, and prints the CPU time it and its reaped
# children used (as % of one core) and its peak resident memory. Runs, each named on the command
# line or all by default:
#   no-agent     nothing to watch
#   idle-agent   a process named like an agent, asleep in the pane of a real tmux server
#   working      the same process busy, so the machine is kept awake
#   two-agents   two busy agent-named processes outside tmux
#   history      no agent, but 20,000 Codex rollouts in 200 dated folders and 20,000 Claude
#                transcripts in 200 project folders, all last written long ago
#   desktop      no agent, on a desktop: a private Xvfb display with trayer's system tray and
#                a private session bus (named only; needs Xvfb, trayer and dbus-daemon)
#   many         no agent, 5,000 idle processes (MANY_PROCESSES) started beforehand (named only)
#   big-history  no agent, 400,000 old session files (HISTORY_FILES; named only): shows how soon
#                the first status follows the launch
#
# Each run also gives the program's context switches a second (all its threads), the bytes it
# had written to disk (/proc/PID/io write_bytes) and the seconds from launch to its first status.
# Beside the program run two peers with the same duty: a 3-second `pgrep` loop and
# `systemd-inhibit` holding a lock (their CPU is printed with each run).
# MEASURE_IN_NAMESPACE=1 runs everything in a user and pid namespace of its own (with its own
# /proc), so other programs' processes are neither seen nor counted.
#
# Usage: Benchmarks/measure-program.sh [path/to/Stayloom] [seconds per run] [run names...]
#   defaults: build/release/Sources/NodwardenApp/Stayloom (else build/dev/...), 300 seconds.
set -euo pipefail

if [[ "${MEASURE_IN_NAMESPACE:-0}" == 1 && -z "${STAYLOOM_MEASURE_INSIDE:-}" ]]; then
    exec env STAYLOOM_MEASURE_INSIDE=1 unshare --user --map-root-user --pid --fork --mount-proc \
        "$0" "$@"
fi

here="$(cd "$(dirname "$0")/.." && pwd)"
program="${1:-}"
if [[ -z "$program" ]]; then
    for candidate in "$here/build/release/Sources/NodwardenApp/Stayloom" \
                     "$here/build/dev/Sources/NodwardenApp/Stayloom"; do
        if [[ -x "$candidate" ]]; then program="$candidate"; break; fi
    done
fi
seconds="${2:-300}"
shift $(($# > 2 ? 2 : $#))
runs=("$@")
if ((${#runs[@]} == 0)); then
    runs=(no-agent idle-agent working two-agents history)
fi
if [[ -z "$program" || ! -x "$program" ]]; then
    echo "Stayloom binary not found; build it first or pass its path" >&2
    exit 2
fi

ticks_per_second="$(getconf CLK_TCK)"
scratch="$(mktemp -d)"
busy_pids=()
program_pid=""
tmux_socket=""
service_pids=()
desktop_env=()
stop_run() {
    if [[ -n "$program_pid" ]]; then
        kill -TERM "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
        program_pid=""
    fi
    for pid in "${busy_pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    busy_pids=()
    # The tray and the bus before the display they serve.
    for ((i = ${#service_pids[@]} - 1; i >= 0; --i)); do
        kill -TERM "${service_pids[i]}" 2>/dev/null || true
        wait "${service_pids[i]}" 2>/dev/null || true
    done
    service_pids=()
    desktop_env=()
    if [[ -n "$tmux_socket" ]]; then
        tmux -S "$tmux_socket" kill-server 2>/dev/null || true
        tmux_socket=""
    fi
}
cleanup() {
    stop_run
    rm -rf "$scratch"
}
trap cleanup EXIT

# Own and reaped children's CPU time of one process, in clock ticks: utime, stime, cutime and
# cstime are fields 14 to 17, counted after the ")".
cpu_ticks() {
    local stat
    stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 1
    stat="${stat##*) }"
    set -- $stat
    echo "$(( ${12} + ${13} )) $(( ${14} + ${15} ))"
}

# Old session files: 100 per folder, written a year ago.
plant_history() {
    local home="$1" folder day
    for ((day = 0; day < 200; ++day)); do
        folder="$home/.codex/sessions/2025/$(printf '%02d/%02d' $((day / 28 + 1)) $((day % 28 + 1)))"
        mkdir -p "$folder"
        (cd "$folder" && touch -d '2025-06-01' $(printf 'rollout-%03d.jsonl ' $(seq 1 100)))
        folder="$home/.claude/projects/-home-me-project-$day"
        mkdir -p "$folder"
        (cd "$folder" && touch -d '2025-06-01' $(printf 'session-%03d.jsonl ' $(seq 1 100)))
    done
}

# Old session files in bulk: Claude projects and Codex dated folders, 200 files each.
plant_big_history() {
    local home="$1" total="${HISTORY_FILES:-400000}" folders folder index
    folders=$((total / 400))
    for ((index = 0; index < folders; ++index)); do
        folder="$home/.claude/projects/-home-me-big-$index"
        mkdir -p "$folder"
        (cd "$folder" && touch -d '2025-06-01' $(printf 's-%03d.jsonl ' $(seq 1 200)))
        folder="$home/.codex/sessions/$((2020 + index / 336))/$(printf '%02d/%02d' $((index / 28 % 12 + 1)) $((index % 28 + 1)))"
        mkdir -p "$folder"
        (cd "$folder" && touch -d '2025-06-01' $(printf 'rollout-%03d.jsonl ' $(seq 1 200)))
    done
}

# Context switches of all threads of one process so far.
context_switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ {sum += $2} END {print sum + 0}'
}

# Each thread's name and its voluntary context switches (its wake-ups) so far, one per line.
thread_wakeups() {
    for task in /proc/"$1"/task/*; do
        printf '%s %s %s\n' "${task##*/}" "$(tr ' ' _ < "$task/comm" 2>/dev/null)" \
            "$(awk '/^voluntary_ctxt_switches:/ {print $2}' "$task/status" 2>/dev/null)"
    done
}

write_bytes() {
    awk '/^write_bytes:/ {print $2}' "/proc/$1/io" 2>/dev/null || echo 0
}

# A display of its own with a system tray, and a session bus, as a desktop session has.
start_desktop() {
    local home="$1" number="" tries
    # Xvfb picks a free display itself and names it, so runs side by side never share one.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$home/display" > "$home/xvfb.txt" 2>&1 &
    service_pids+=("$!")
    dbus-daemon --session --nofork --address="unix:path=$home/session-bus" > /dev/null 2>&1 &
    service_pids+=("$!")
    for ((tries = 0; tries < 100; ++tries)); do
        number="$(cat "$home/display" 2>/dev/null || true)"
        [[ -n "$number" && -S "/tmp/.X11-unix/X$number" && -S "$home/session-bus" ]] && break
        sleep 0.1
    done
    DISPLAY=":$number" trayer --edge top --align right --widthtype pixel --width 120 \
        --heighttype pixel --height 24 > "$home/trayer.txt" 2>&1 &
    service_pids+=("$!")
    sleep 1
    desktop_env=(DISPLAY=":$number" DBUS_SESSION_BUS_ADDRESS="unix:path=$home/session-bus")
}

# One measured run, named as above.
measure() {
    local name="$1"
    local home="$scratch/$name"
    mkdir -p "$home/.config/Stayloom" "$home/agents" "$home/tmux"
    # Earlier runs left accepted terms, a finished first run and the watching mode.
    cat > "$home/.config/Stayloom/Stayloom.conf" <<INI
[General]
Stayloom.acceptedLegalVersion=1.8
Stayloom.hasCompletedOnboarding=true
Nodwarden.mode=watchAgentUI
INI
    ln -sf /bin/sh "$home/agents/codex"
    ln -sf /bin/sh "$home/agents/claude"
    local expect_awake=0
    case "$name" in
    no-agent) ;;
    idle-agent | working)
        local loop='while :; do sleep 3600; done'
        if [[ "$name" == working ]]; then loop='while :; do :; done'; expect_awake=1; fi
        tmux_socket="$home/tmux/tmux-$(id -u)/default"
        mkdir -p -m 700 "$home/tmux/tmux-$(id -u)"
        TMUX_TMPDIR="$home/tmux" tmux -S "$tmux_socket" -f /dev/null new-session -d -x 120 -y 40 \
            "$home/agents/codex" -c "$loop"
        ;;
    two-agents)
        expect_awake=1
        for agent in claude codex; do
            "$home/agents/$agent" -c 'while :; do :; done' &
            busy_pids+=("$!")
        done
        ;;
    history) plant_history "$home" ;;
    big-history) plant_big_history "$home" ;;
    many)
        for ((i = 0; i < ${MANY_PROCESSES:-5000}; ++i)); do
            sleep 100000 &
            busy_pids+=("$!")
        done
        ;;
    desktop) start_desktop "$home" ;;
    *) echo "unknown run $name" >&2; return 1 ;;
    esac

    # LD_LIBRARY_PATH lets an older build run against its own libNodwardenCore.
    # The peers: a 3-second pgrep loop and systemd-inhibit holding a lock.
    bash -c 'while :; do pgrep -f "claude|codex" > /dev/null; sleep 3; done' &
    local pgrep_pid=$!
    local inhibit_pid=""
    if command -v systemd-inhibit > /dev/null; then
        systemd-inhibit --what=idle --why=measure sleep 100000 > /dev/null 2>&1 &
        inhibit_pid=$!
    fi
    local launched_ns
    launched_ns="$(date +%s%N)"
    env -i HOME="$home" PATH=/usr/bin:/bin LC_ALL=C.UTF-8 TZ=UTC TMUX_TMPDIR="$home/tmux" \
        XDG_RUNTIME_DIR="$home/no-runtime" LD_LIBRARY_PATH="${LD_LIBRARY_PATH:-}" "${desktop_env[@]}" \
        "$program" < /dev/null > "$home/out.txt" 2>&1 &
    program_pid=$!
    # The first decided status after the launch: the output is looked at every 20 ms for 30 s at most.
    local first_status="none"
    for ((tries = 0; tries < 1500; ++tries)); do
        # The status printed before the first decision reads "Starting".
        if grep -E '^(Off|Watching|Keeping Awake|Idle)' "$home/out.txt" 2>/dev/null |
            grep -vq 'Starting'; then
            first_status="$(awk -v ns=$(($(date +%s%N) - launched_ns)) 'BEGIN {printf "%.2f s", ns / 1e9}')"
            break
        fi
        sleep 0.02
    done
    sleep 1
    local start_ticks start_ns peak=0 samples=0 start_switches start_written
    start_ticks="$(cpu_ticks "$program_pid")"
    start_switches="$(context_switches "$program_pid")"
    thread_wakeups "$program_pid" > "$home/wakeups-start"
    start_written="$(write_bytes "$program_pid")"
    local peer_start="$(cpu_ticks "$pgrep_pid") ${inhibit_pid:+$(cpu_ticks "$inhibit_pid")}"
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
    local end_ticks end_ns end_switches end_written
    end_ticks="$(cpu_ticks "$program_pid")"
    end_switches="$(context_switches "$program_pid")"
    thread_wakeups "$program_pid" > "$home/wakeups-end"
    end_written="$(write_bytes "$program_pid")"
    local peer_end="$(cpu_ticks "$pgrep_pid") ${inhibit_pid:+$(cpu_ticks "$inhibit_pid")}"
    end_ns="$(date +%s%N)"
    kill "$pgrep_pid" ${inhibit_pid:+"$inhibit_pid"} 2>/dev/null || true
    wait "$pgrep_pid" ${inhibit_pid:+"$inhibit_pid"} 2>/dev/null || true
    # Resident pages shared with other programs (the libraries' code) count in RSS in full and
    # in the proportional set size only in part.
    local pss
    pss="$(awk '/^Pss:/ {print $2}' "/proc/$program_pid/smaps_rollup" 2>/dev/null || echo 0)"
    # A headless run must not load the desktop face's module and the GUI libraries it links.
    local objects gui
    objects="$(awk '$6 ~ /\.so/ {print $6}' "/proc/$program_pid/maps" 2>/dev/null | sort -u)"
    gui="$(grep -cE '/(libQt6Gui|libQt6Widgets)\.so|/stayloom-desktop\.so' <<<"$objects" || true)"
    local docked=""
    if ((${#desktop_env[@]})); then
        # The icon's window sits inside the tray's once Qt has docked it.
        docked="$(env "${desktop_env[@]}" xwininfo -root -tree 2>/dev/null |
            grep -ci 'stayloom' || true)"
    fi
    stop_run

    set -- $start_ticks $end_ticks
    awk -v name="$name" -v own=$(($3 - $1)) -v children=$(($4 - $2)) -v hz="$ticks_per_second" \
        -v ns=$((end_ns - start_ns)) -v peak="$peak" -v pss="$pss" -v samples="$samples" 'BEGIN {
            wall = ns / 1e9
            printf "%-11s wall %6.1f s  self %5.3f %%  children %5.3f %%  total %5.3f %% of one core  peak RSS %5.1f MiB  PSS at the end %5.1f MiB  (%d samples)\n",
                   name, wall, 100 * own / hz / wall, 100 * children / hz / wall,
                   100 * (own + children) / hz / wall, peak / 1024, pss / 1024, samples
        }'
    awk -v sw=$((end_switches - start_switches)) -v wb=$((end_written - start_written)) \
        -v ns=$((end_ns - start_ns)) -v own=$(($3 - $1)) -v hz="$ticks_per_second" \
        -v first="$first_status" -v peers="$peer_start | $peer_end" 'BEGIN {
            wall = ns / 1e9
            split(peers, halves, " [|] ")
            n = split(halves[1], a, " "); split(halves[2], b, " ")
            pg = 100 * ((b[1] + b[2]) - (a[1] + a[2])) / hz / wall
            inh = n >= 4 ? 100 * ((b[3] + b[4]) - (a[3] + a[4])) / hz / wall : -1
            printf "  context switches %.2f /s  written %d bytes  first status %s  CPU per 3-s pass %.2f ms\n",
                   sw / wall, wb, first, 1000 * own / hz / (wall / 3)
            printf "  peers: pgrep loop %.3f %%, systemd-inhibit %s of one core\n", pg,
                   inh < 0 ? "n/a" : sprintf("%.3f %%", inh)
        }'
    # Wake-ups by thread (voluntary switches; the rest of the switches above are preemptions).
    echo "  wake-ups a second by thread: $(join <(sort "$home/wakeups-start") <(sort "$home/wakeups-end") |
        awk -v wall=$(((end_ns - start_ns) / 1000000)) '{
            printf "%s%s %.2f", (NR > 1 ? ", " : ""), $2, ($5 - $3) * 1000 / wall }')"
    echo "  last status: $(grep -E '^(Off|Watching|Keeping Awake|Idle)' "$home/out.txt" | tail -n 1)"
    echo "  shared objects mapped: $(grep -c . <<<"$objects"), of them Qt Gui, Qt Widgets or the desktop module: $gui"
    if [[ -n "$docked" ]]; then
        echo "  windows of Stayloom on the display: $docked"
    fi
    if ((expect_awake)) && ! grep -q "Keeping Awake" "$home/out.txt"; then
        echo "  note: the run never reported keeping awake" >&2
    fi
}

echo "Stayloom: $program, $seconds s per run"
for run in "${runs[@]}"; do
    measure "$run"
done
