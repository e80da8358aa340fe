#!/bin/bash
# Which cheap signal says that the set of processes changed, against the listing itself: every 3 s
# prints one line of 0/1 flags, whether each moved since the line before:
#   loadavg's task count (threads too), loadavg's last pid, /proc/stat's fork counter, /proc's link
#   count (the number of processes), and a digest of the /proc listing (the truth).
# Usage: Benchmarks/process-set-signals.sh [intervals]   (default 20)
set -euo pipefail
previous=""
for ((i = 0; i <= ${1:-20}; ++i)); do
    read -r _ _ _ tasks last < /proc/loadavg
    tasks="${tasks#*/}"
    forks="$(awk '/^processes/ {print $2}' /proc/stat)"
    links="$(stat -c %h /proc)"
    listing="$(ls /proc | grep -E '^[0-9]+$' | sort -n | md5sum | cut -c1-8)"
    current="$tasks $last $forks $links $listing"
    if [[ -n "$previous" ]]; then
        read -r -a before <<<"$previous"
        read -r -a now <<<"$current"
        line=""
        for k in 0 1 2 3 4; do
            [[ "${before[k]}" != "${now[k]}" ]] && line+="1 " || line+="0 "
        done
        echo "$line"
    fi
    previous="$current"
    sleep 3
done
