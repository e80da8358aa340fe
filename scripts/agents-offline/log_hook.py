#!/usr/bin/env python3
"""An agent hook that notes which event fired: its name, the payload's keys, a few short
structural fields, and the hook's parent chain. Never the prompt or a tool's input or output.
Prints nothing and exits 0 at once, as every agent wants of a hook.

usage: log_hook.py LOGFILE AGENT EVENT  (payload on stdin)
"""

import json
import os
import sys
import time

SHORT_FIELDS = ("hook_event_name", "hookEventName", "notification_type", "notificationType",
                "tool_name", "toolName", "type", "status", "reason", "stop_reason", "source",
                "permission_mode", "matcher", "decision")


def chain():
    links = []
    pid = os.getppid()
    while pid > 1 and len(links) < 12:
        try:
            with open(f"/proc/{pid}/stat", encoding="utf-8") as stat:
                text = stat.read()
            comm = text[text.index("(") + 1:text.rindex(")")]
            ppid = int(text[text.rindex(")") + 2:].split()[1])
        except (OSError, ValueError):
            break
        links.append(f"{pid}:{comm}")
        pid = ppid
    return links


def main():
    if len(sys.argv) < 4:
        return 0
    try:
        raw = sys.stdin.read() if not sys.stdin.isatty() else ""
    except OSError:
        raw = ""
    try:
        payload = json.loads(raw) if raw.strip() else {}
    except ValueError:
        payload = {"unparsed": True}
    entry = {"t": time.strftime("%H:%M:%S", time.gmtime()) + ".%02d" % (int(time.time() * 100) % 100),
             "agent": sys.argv[2], "event": sys.argv[3],
             "keys": sorted(payload) if isinstance(payload, dict) else [],
             "chain": chain()}
    if isinstance(payload, dict):
        for field in SHORT_FIELDS:
            value = payload.get(field)
            if isinstance(value, (str, int, bool)) and len(str(value)) <= 60:
                entry[field] = value
    try:
        with open(sys.argv[1], "a", encoding="utf-8") as out:
            out.write(json.dumps(entry) + "\n")
    except OSError:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
