#!/usr/bin/env python3
"""Summarises one round of drive.py: Stayloom's status and each agent's row as they changed,
the round's own events (prompts, approval prompts, answers, tool commands), and hook events.

usage: summarize.py ROUND_FOLDER [--files]
"""

import json
import sys

NAMES = {"Claude Code": "claude", "Codex CLI": "codex", "Gemini CLI": "gemini",
         "Qwen Code": "qwen", "OpenCode": "opencode", "Copilot CLI": "copilot"}


def main():
    folder = sys.argv[1]
    show_files = "--files" in sys.argv
    timeline = []
    try:
        with open(f"{folder}/events.log", encoding="utf-8") as source:
            for line in source:
                stamp, _, text = line.rstrip("\n").partition(" ")
                if text.startswith("file ") and not show_files:
                    continue
                timeline.append((stamp, "round", text))
    except OSError:
        pass
    last_machine, last_rows = None, {}
    try:
        with open(f"{folder}/status.jsonl", encoding="utf-8") as source:
            for line in source:
                entry = json.loads(line)
                status = entry["status"]
                machine = (status.get("status"), status.get("reason"), status.get("keepingAwake"))
                if machine != last_machine:
                    timeline.append((entry["t"], "machine",
                                     f"{machine[0]} awake={machine[2]} — {machine[1]}"))
                    last_machine = machine
                seen = set()
                for row in status.get("agents", []) or []:
                    name = NAMES.get(row.get("name"), row.get("name"))
                    seen.add(name)
                    extra = "".join(f" {k}={row[k]}" for k in ("decidedBy",) if k in row)
                    value = f"{row.get('state')} — {row.get('reason')}{extra}"
                    if last_rows.get(name) != value:
                        timeline.append((entry["t"], name, value))
                        last_rows[name] = value
                for name in list(last_rows):
                    if name not in seen and last_rows[name] is not None:
                        timeline.append((entry["t"], name, "row gone"))
                        last_rows[name] = None
    except OSError:
        pass
    try:
        with open(f"{folder}/hooks.jsonl", encoding="utf-8") as source:
            for line in source:
                entry = json.loads(line)
                detail = " ".join(f"{k}={entry[k]}" for k in entry
                                  if k not in ("t", "agent", "event", "keys", "chain", "kind"))
                timeline.append((entry["t"], entry["agent"], f"hook {entry['event']} {detail}"))
    except OSError:
        pass
    timeline.sort(key=lambda item: item[0])
    for stamp, who, text in timeline:
        print(f"{stamp:12} {who:9} {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
