#!/usr/bin/env python3
"""Drives real agent CLIs through one turn each, offline, and records what can be seen.

Meant to run inside its own pid and network namespace (see run-in-namespace.sh), with the agents
installed outside the repository (--agents-bin). Each agent is started the way a user starts it:
its name typed at an interactive bash in a tmux pane; the prompt is typed, Enter follows a second
later. Every second the round notes each pane's screen, `stayloom status --json` (when a Stayloom
build is given), the files that changed under the throw-away HOME, the process chain of the tool's
command, and keep-awake locks. Everything lands in --out; nothing is sent anywhere.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = "sk-test-0000-offline-stand-in-key"
ALL_AGENTS = ("claude", "codex", "gemini", "qwen", "opencode", "copilot")

READY = {
    "claude": r"\? for shortcuts|for agents",
    "codex": r"← for agents",
    "gemini": r"Type your message",
    "qwen": r"Type your message",
    "opencode": r"ctrl\+p|tab agents",
    "copilot": r"\? help|open sidebar|Type @ to mention",
}
# The agents' approval prompts, as they ask before running a shell command.
APPROVAL = re.compile(
    r"Do you want to proceed|Would you like to run|Allow execution|Allow once|"
    r"Permission required|Do you want to run|Approve|Yes, proceed|Yes, allow|Waiting for your",
    re.I)
AUTO_FLAGS = {
    "claude": "--dangerously-skip-permissions",
    "codex": "--dangerously-bypass-approvals-and-sandbox",
    "gemini": "--yolo",
    "qwen": "--yolo",
    "opencode": "",
    "copilot": "--allow-all-tools",
}
HOOK_EVENTS = {
    "claude": ["SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse", "Notification",
               "PermissionRequest", "Stop", "StopFailure", "SessionEnd"],
    "codex": ["SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse",
              "PermissionRequest", "Stop", "Interrupt"],
    "gemini": ["SessionStart", "BeforeAgent", "BeforeTool", "AfterTool", "Notification",
               "AfterAgent", "SessionEnd"],
    "qwen": ["SessionStart", "UserPromptSubmit", "PreToolUse", "PostToolUse",
             "PostToolUseFailure", "Notification", "PermissionRequest", "Stop", "StopFailure",
             "SessionEnd"],
    "copilot": ["sessionStart", "userPromptSubmitted", "preToolUse", "postToolUse",
                "agentStop", "errorOccurred", "sessionEnd"],
}


# The agents' own status files hold no text of the user's work; their fields are noted as they
# change, less the working folder and the session's name.
STATUS_FILES = re.compile(r"^\.claude/sessions/\d+\.json$|^\.copilot/open-sessions-state\.json$")


def status_fields(path):
    def trim(value):
        if isinstance(value, dict):
            return {k: trim(v) for k, v in value.items() if k not in ("cwd", "name")}
        return value if not isinstance(value, str) else value[:40]
    return json.dumps(trim(load_json(path)), sort_keys=True)


def now():
    return time.strftime("%H:%M:%S", time.gmtime()) + ".%d" % (int(time.time() * 10) % 10)


def write_json(path, value):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        json.dump(value, out, indent=2)


def load_json(path):
    try:
        with open(path, encoding="utf-8") as source:
            return json.load(source)
    except (OSError, ValueError):
        return {}


def set_up_home(home, cwd, port, auto, codex_policy):
    """Section by section, what each agent needs to reach its prompt offline and signed out."""
    base = f"http://127.0.0.1:{port}"
    claude = {"hasCompletedOnboarding": True, "theme": "dark",
              "customApiKeyResponses": {"approved": [KEY[-20:]], "rejected": []},
              "projects": {cwd: {"hasTrustDialogAccepted": True, "allowedTools": [],
                                 "hasCompletedProjectOnboarding": True}}}
    if auto:
        claude["bypassPermissionsModeAccepted"] = True
    write_json(f"{home}/.claude.json", claude)
    os.makedirs(f"{home}/.codex", exist_ok=True)
    with open(f"{home}/.codex/config.toml", "w", encoding="utf-8") as out:
        out.write('model = "m"\nmodel_provider = "mock"\n')
        if codex_policy and not auto:
            out.write(f'approval_policy = "{codex_policy}"\n')
        out.write(f'\n[model_providers.mock]\nname = "mock"\nbase_url = "{base}/v1"\n'
                  'wire_api = "responses"\nenv_key = "MOCK_API_KEY"\n\n'
                  f'[projects."{cwd}"]\ntrust_level = "trusted"\n')
    write_json(f"{home}/.gemini/settings.json",
               {"security": {"auth": {"selectedType": "gemini-api-key"}},
                "general": {"disableAutoUpdate": True}})
    write_json(f"{home}/.gemini/trustedFolders.json", {cwd: "TRUST_FOLDER"})
    write_json(f"{home}/.qwen/settings.json",
               {"security": {"auth": {"selectedType": "openai"}},
                "model": {"name": "m"},
                "modelProviders": {"openai": [{"id": "m", "name": "m", "baseUrl": f"{base}/v1",
                                               "envKey": "OPENAI_API_KEY"}]}})
    write_json(f"{home}/.qwen/trustedFolders.json", {cwd: "TRUST_FOLDER"})
    opencode = {"$schema": "https://opencode.ai/config.json", "autoupdate": False,
                "model": "mock/m",
                "provider": {"mock": {"npm": "@ai-sdk/openai-compatible", "name": "mock",
                                      "options": {"baseURL": f"{base}/v1",
                                                  "apiKey": "{env:MOCK_API_KEY}"},
                                      "models": {"m": {"name": "m"}}}}}
    opencode["permission"] = {"bash": "allow" if auto else "ask"}
    write_json(f"{home}/.config/opencode/opencode.json", opencode)
    write_json(f"{home}/.copilot/config.json", {"trustedFolders": [cwd]})


def agent_environment(home, port):
    base = f"http://127.0.0.1:{port}"
    env = {
        "HOME": home, "PATH": os.environ["PATH"], "TERM": "xterm-256color", "LANG": "C.UTF-8",
        "SHELL": "/bin/bash", "USER": "root", "LOGNAME": "root",
        "ANTHROPIC_BASE_URL": base, "ANTHROPIC_API_KEY": KEY, "IS_SANDBOX": "1",
        "MOCK_API_KEY": KEY,
        "GEMINI_API_KEY": KEY, "GOOGLE_GEMINI_BASE_URL": base,
        "OPENAI_BASE_URL": f"{base}/v1", "OPENAI_API_KEY": KEY, "OPENAI_MODEL": "m",
        "COPILOT_PROVIDER_BASE_URL": f"{base}/v1", "COPILOT_PROVIDER_TYPE": "openai",
        "COPILOT_PROVIDER_WIRE_API": "completions", "COPILOT_PROVIDER_API_KEY": KEY,
        "COPILOT_MODEL": "m", "COPILOT_OFFLINE": "true",
    }
    for key in ("XDG_RUNTIME_DIR", "TMUX_TMPDIR"):
        if key in os.environ:
            env[key] = os.environ[key]
    return env


def install_log_hooks(home, log, agents):
    hook = f"python3 {HERE}/log_hook.py {log}"
    for agent in agents:
        if agent == "opencode":
            os.makedirs(f"{home}/.config/opencode/plugins", exist_ok=True)
            with open(f"{HERE}/opencode_log_plugin.js", encoding="utf-8") as source:
                text = source.read().replace("@LOG@", log)
            with open(f"{home}/.config/opencode/plugins/zz-log.js", "w",
                      encoding="utf-8") as out:
                out.write(text)
            continue
        if agent == "copilot":
            hooks = {e: [{"type": "command", "bash": f"{hook} copilot {e}", "timeoutSec": 5}]
                     for e in HOOK_EVENTS["copilot"]}
            write_json(f"{home}/.copilot/hooks/zz-log.json", {"version": 1, "hooks": hooks})
            continue
        path = {"claude": ".claude/settings.json", "codex": ".codex/hooks.json",
                "gemini": ".gemini/settings.json", "qwen": ".qwen/settings.json"}[agent]
        settings = load_json(f"{home}/{path}")
        table = settings.setdefault("hooks", {})
        for event in HOOK_EVENTS[agent]:
            table.setdefault(event, []).append(
                {"hooks": [{"type": "command", "command": f"{hook} {agent} {event}"}]})
        write_json(f"{home}/{path}", settings)


class Tmux:
    def __init__(self, socket_args, env):
        self.socket_args = socket_args
        self.env = env

    def __call__(self, *args, check=False):
        return subprocess.run(["tmux", *self.socket_args, *args], env=self.env,
                              capture_output=True, text=True, check=check)

    def capture(self, target):
        result = self("capture-pane", "-p", "-J", "-t", target)
        return result.stdout if result.returncode == 0 else ""


def snapshot(home, skip):
    seen = {}
    for folder, dirs, files in os.walk(home):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) not in skip]
        for name in files:
            path = os.path.join(folder, name)
            try:
                st = os.lstat(path)
            except OSError:
                continue
            seen[path[len(home) + 1:]] = (st.st_size, st.st_mtime_ns)
    return seen


def proc_stat(pid):
    try:
        with open(f"/proc/{pid}/stat", encoding="utf-8") as stat:
            text = stat.read()
        comm = text[text.index("(") + 1:text.rindex(")")]
        fields = text[text.rindex(")") + 2:].split()
        return comm, int(fields[1])
    except (OSError, ValueError):
        return None


def argv0(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as source:
            parts = source.read().split(b"\0")
        words = [p.decode(errors="replace") for p in parts if p]
        # The program and its first two words are structure; the rest may be the user's.
        return " ".join(os.path.basename(w) if i == 0 else w[:40]
                        for i, w in enumerate(words[:3]))
    except OSError:
        return "?"


def tool_chains(marker):
    """Parent chains of the running tool commands (a `sleep` whose argument is `marker`)."""
    chains = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        info = proc_stat(entry)
        if not info or info[0] != "sleep":
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as source:
                words = source.read().split(b"\0")
        except OSError:
            continue
        if len(words) < 2 or words[1].decode() != marker:
            continue
        links, pid = [], int(entry)
        while pid > 1 and len(links) < 14:
            info = proc_stat(pid)
            if not info:
                break
            links.append(f"{pid}:{info[0]}[{argv0(pid)}]")
            pid = info[1]
        chains.append(links)
    return chains


def lock_processes():
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            info = proc_stat(entry)
            if info and info[0] in ("systemd-inhibit", "caffeinate", "stayloom-inhibi"):
                try:
                    with open(f"/proc/{entry}/cmdline", "rb") as source:
                        words = [w.decode(errors="replace") for w in source.read().split(b"\0")
                                 if w]
                except OSError:
                    words = []
                found.append(f"{entry}:{info[0]}{words[1:]}<-{info[1]}:"
                             f"{(proc_stat(info[1]) or ('?',))[0]}")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--agents", default=",".join(ALL_AGENTS))
    parser.add_argument("--agents-bin", default="/opt/agents/bin")
    parser.add_argument("--approve", choices=("auto", "ask"), default="auto")
    parser.add_argument("--answer-after", type=float, default=60,
                        help="seconds to wait at an approval prompt before pressing Enter")
    parser.add_argument("--screen", choices=("readable", "private"), default="readable")
    parser.add_argument("--mode", choices=("tool", "think", "text", "idle"), default="tool")
    parser.add_argument("--delay", type=float, default=0)
    parser.add_argument("--command", default="echo running the test suite; sleep 150; echo done")
    parser.add_argument("--cancel-after", type=float, default=0,
                        help="press the agent's cancel key this many seconds after the prompt")
    parser.add_argument("--second-turn-at", type=float, default=0,
                        help="seconds after the first prompt to type a second one")
    parser.add_argument("--second-mode", choices=("tool", "think", "text"), default="think")
    parser.add_argument("--second-delay", type=float, default=120)
    parser.add_argument("--second-cancel-after", type=float, default=0)
    parser.add_argument("--duration", type=float, default=330)
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--stayloom", help="a Stayloom build to run headless and ask each second")
    parser.add_argument("--desktop", type=int, default=0,
                        help="run Stayloom's desktop face on this Xvfb display number with a "
                             "private session bus and a notification daemon that logs calls")
    parser.add_argument("--codex-policy", default="",
                        help="Codex's approval_policy when not auto-approving (its default else)")
    parser.add_argument("--codex-config", default="",
                        help="lines added to Codex's config.toml (\\n between lines)")
    parser.add_argument("--stayloom-hooks", action="store_true")
    parser.add_argument("--hook-wrapper", help="a program put in place of Stayloom in its hooks")
    parser.add_argument("--log-hooks", action="store_true")
    parser.add_argument("--prompt", default="Please run the test suite.")
    parser.add_argument("--ready-timeout", type=float, default=150)
    parser.add_argument("--opencode-deps", default="/opt/agents/opencode-config",
                        help="a folder holding OpenCode's plugin package, installed beforehand, "
                             "so that it does not try the network at start")
    parser.add_argument("--capture-every", type=float, default=1)
    args = parser.parse_args()

    agents = [a for a in args.agents.split(",") if a]
    out = os.path.abspath(args.out)
    shutil.rmtree(out, ignore_errors=True)
    home = f"{out}/home"
    cwd = f"{home}/project"
    os.makedirs(cwd)
    os.makedirs(f"{out}/run", mode=0o700)
    os.environ["XDG_RUNTIME_DIR"] = f"{out}/run"
    os.environ["PATH"] = f"{args.agents_bin}:{os.environ['PATH']}"
    tmux_tmpdir = f"{out}/tmux-tmp"
    os.makedirs(tmux_tmpdir, mode=0o700)
    os.environ["TMUX_TMPDIR"] = tmux_tmpdir
    subprocess.run(["git", "init", "-q", cwd], check=False)
    with open(f"{cwd}/README.md", "w", encoding="utf-8") as readme:
        readme.write("A project to run the tests of.\n")
    # A test run that prints one line and then nothing for a while; agents that let read-only
    # commands such as `echo; sleep` pass without asking do ask before running a script.
    with open(f"{cwd}/run-tests.sh", "w", encoding="utf-8") as script:
        script.write("#!/bin/sh\necho running the test suite\nsleep 150\necho done\n")
    os.chmod(f"{cwd}/run-tests.sh", 0o755)

    set_up_home(home, cwd, args.port, args.approve == "auto", args.codex_policy)
    if args.codex_config:
        with open(f"{home}/.codex/config.toml", "a", encoding="utf-8") as extra:
            extra.write("\n" + args.codex_config.replace("\\n", "\n") + "\n")
    env = agent_environment(home, args.port)
    if args.stayloom and args.stayloom_hooks:
        subprocess.run([args.stayloom, "hooks", "install", *agents], env=env,
                       capture_output=True, check=False)
    if args.stayloom and args.stayloom_hooks and args.hook_wrapper:
        # Hooks that go through a wrapper of the developer's (to see what a hook was handed).
        for folder, _, files in os.walk(home):
            for name in files:
                path = os.path.join(folder, name)
                if name.endswith((".json", ".js")) and "/project/" not in path:
                    with open(path, encoding="utf-8", errors="replace") as source:
                        text = source.read()
                    if args.stayloom in text:
                        with open(path, "w", encoding="utf-8") as target:
                            target.write(text.replace(args.stayloom, args.hook_wrapper))
    if args.opencode_deps and os.path.isdir(f"{args.opencode_deps}/node_modules"):
        for name in ("package.json", "package-lock.json", "node_modules"):
            source = f"{args.opencode_deps}/{name}"
            target = f"{home}/.config/opencode/{name}"
            if os.path.isdir(source):
                shutil.copytree(source, target, symlinks=True)
            elif os.path.exists(source):
                shutil.copy(source, target)
    hook_log = f"{out}/hooks.jsonl"
    if args.log_hooks:
        install_log_hooks(home, hook_log, agents)

    model_config = f"{out}/model.json"
    write_json(model_config, {"mode": "text" if args.mode == "idle" else args.mode,
                              "command": args.command, "delay": args.delay,
                              "escalate": args.approve == "ask"})
    server = subprocess.Popen([sys.executable, f"{HERE}/model_server.py", "--port",
                               str(args.port), "--config", model_config, "--log",
                               f"{out}/model.log", "--dump-tools", f"{out}/tools.jsonl"])
    helpers = []
    sl_env = dict(env)
    if args.desktop:
        # The desktop face on a private X server and session bus, with a stand-in notification
        # daemon that writes down every call, so a notification can be seen without a desktop.
        display = f":{args.desktop}"
        helpers.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24",
                                         "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL))
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                               stdout=subprocess.PIPE, text=True)
        helpers.append(bus)
        address = bus.stdout.readline().strip()
        sl_env["DBUS_SESSION_BUS_ADDRESS"] = address
        sl_env["DISPLAY"] = display
        sl_env["QT_QPA_PLATFORM"] = "xcb"
        helpers.append(subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon",
             "-l", f"{out}/notifications.log"], env=sl_env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL))
        time.sleep(2)
    stayloom = None
    status_log = open(f"{out}/status.jsonl", "a", encoding="utf-8")
    if args.stayloom:
        stayloom = subprocess.Popen([args.stayloom], env=sl_env, stdin=subprocess.DEVNULL,
                                    stdout=open(f"{out}/stayloom.out", "w"),
                                    stderr=subprocess.STDOUT)
        time.sleep(2)
        subprocess.run([args.stayloom, "accept-terms"], env=sl_env, capture_output=True)
        subprocess.run([args.stayloom, "mode", "watch"], env=sl_env, capture_output=True)

    if args.screen == "readable":
        socket_args = ["-L", "agents"]
    else:
        os.makedirs(f"{out}/private", mode=0o700)
        socket_args = ["-S", f"{out}/private/agents.sock"]
    tmux = Tmux(socket_args, env)
    tmux("-f", "/dev/null", "new-session", "-d", "-s", "a", "-x", "200", "-y", "50", "-n",
         "shell", "bash --norc -i", check=True)
    for agent in agents:
        tmux("new-window", "-d", "-t", "a", "-n", agent, "bash --norc -i", check=True)
    time.sleep(1)
    flags = AUTO_FLAGS if args.approve == "auto" else {}
    for agent in agents:
        tmux("send-keys", "-t", f"a:{agent}", f"cd {cwd} && {agent} {flags.get(agent, '')}",
             "Enter")

    screens = open(f"{out}/screens.log", "a", encoding="utf-8")
    events = open(f"{out}/events.log", "a", encoding="utf-8")

    def note(line):
        events.write(f"{now()} {line}\n")
        events.flush()

    def capture_all(label):
        texts = {}
        for agent in agents:
            text = tmux.capture(f"a:{agent}")
            texts[agent] = text
            trimmed = "\n".join(line.rstrip() for line in text.rstrip().splitlines()
                                 if line.strip())
            screens.write(f"===== {now()} {agent} {label}\n{trimmed}\n")
        screens.flush()
        return texts

    def ask_status():
        if not args.stayloom:
            return
        try:
            result = subprocess.run([args.stayloom, "status", "--json"], env=env,
                                    capture_output=True, text=True)
        except OSError as error:  # a build replacing the program meanwhile
            note(f"status not asked: {error}")
            return
        line = result.stdout.strip().splitlines()[-1] if result.stdout.strip() else "{}"
        try:
            status = json.loads(line)
        except ValueError:
            status = {}
        status_log.write(json.dumps({"t": now(), "status": status}) + "\n")
        status_log.flush()

    # Start-up: until each agent shows its prompt.
    ready = {}
    start = time.time()
    dialogs = set()

    def handle_dialogs(texts):
        """Screens a user answers once before the agent's prompt; True while one is up."""
        up = False
        text = texts.get("codex", "")
        if "Trust all and continue" in text:
            up = True
            if "codex-hooks" not in dialogs:
                # A user trusts the hooks they installed, as Codex asks before it runs them.
                dialogs.add("codex-hooks")
                tmux("send-keys", "-t", "a:codex", "Down")
                time.sleep(0.5)
                tmux("send-keys", "-t", "a:codex", "Enter")
                note("codex hooks: chose 2. Trust all and continue")
        return up

    while len(ready) < len(agents) and time.time() - start < args.ready_timeout:
        texts = capture_all("start")
        if handle_dialogs(texts):
            continue
        for agent, text in texts.items():
            if agent not in ready and re.search(READY[agent], text):
                ready[agent] = now()
                note(f"{agent} ready")
        ask_status()
        time.sleep(1)
    for agent in agents:
        if agent not in ready:
            note(f"{agent} NOT ready after {args.ready_timeout:.0f} s")
    for _ in range(4):
        handle_dialogs(capture_all("start"))
        time.sleep(1)
    skip = {f"{home}/project/.git"}
    before = snapshot(home, skip)

    prompted = {}

    def send_prompt(label):
        for agent in agents:
            tmux("send-keys", "-t", f"a:{agent}", "-l", args.prompt)
        time.sleep(1)
        for agent in agents:
            tmux("send-keys", "-t", f"a:{agent}", "Enter")
            prompted[agent] = time.time()
            note(f"{agent} {label} sent")

    if args.mode != "idle":
        send_prompt("prompt")

    asked, answered, cancelled, last_chain, last_locks = {}, {}, set(), {}, None
    marker = re.search(r"sleep (\d+)", args.command)
    marker = marker.group(1) if marker else "150"
    begin = time.time()
    second_done = False
    while time.time() - begin < args.duration:
        tick = time.time()
        if args.second_turn_at and not second_done and tick - begin >= args.second_turn_at:
            # A second turn in the same sessions: another kind of answer, maybe cancelled.
            second_done = True
            write_json(model_config, {"mode": args.second_mode, "command": args.command,
                                      "delay": args.second_delay,
                                      "escalate": args.approve == "ask"})
            send_prompt("second prompt")
            cancelled.clear()
            args.cancel_after = args.second_cancel_after
            tick = time.time()
        texts = capture_all(f"+{tick - begin:.0f}s")
        handle_dialogs(texts)
        ask_status()
        for agent, text in texts.items():
            if agent in prompted and agent not in asked and APPROVAL.search(text):
                asked[agent] = tick
                note(f"{agent} approval prompt on screen")
            if agent in asked and agent not in answered and \
                    tick - asked[agent] >= args.answer_after:
                tmux("send-keys", "-t", f"a:{agent}", "Enter")
                answered[agent] = tick
                note(f"{agent} answered (Enter)")
            if args.cancel_after and agent in prompted and agent not in cancelled and \
                    tick - prompted[agent] >= args.cancel_after:
                key = ["C-c"] if agent == "copilot" else ["Escape"]
                tmux("send-keys", "-t", f"a:{agent}", *key)
                if agent == "opencode":
                    # OpenCode asks for a second Esc ("esc again to interrupt").
                    time.sleep(0.3)
                    tmux("send-keys", "-t", f"a:{agent}", *key)
                cancelled.add(agent)
                note(f"{agent} cancelled ({key[0]})")
        chains = tool_chains(marker)
        for chain in chains:
            tail = " <- ".join(chain)
            owner = next((a for a in agents if a in tail), "?")
            if last_chain.get(owner) != tail:
                last_chain[owner] = tail
                note(f"tool chain {owner}: {tail}")
        for owner in list(last_chain):
            if not any(owner in " ".join(c) for c in chains) and last_chain[owner]:
                note(f"tool command of {owner} gone")
                last_chain[owner] = ""
        locks = lock_processes()
        if locks != last_locks:
            note(f"lock processes now: {locks}")
            last_locks = locks
        current = snapshot(home, skip)
        for path, meta in current.items():
            old = before.get(path)
            if old is None:
                note(f"file new {path} ({meta[0]} B)")
            elif old != meta:
                note(f"file changed {path} ({old[0]} -> {meta[0]} B)")
            if (old is None or old != meta) and STATUS_FILES.search(path):
                note(f"status file {path}: {status_fields(f'{home}/{path}')}")
        for path in before:
            if path not in current:
                note(f"file removed {path}")
        before = current
        time.sleep(max(0, args.capture_every - (time.time() - tick)))

    capture_all("end")
    for agent in agents:
        tmux("send-keys", "-t", f"a:{agent}", "C-c")
    time.sleep(1)
    for agent in agents:
        tmux("send-keys", "-t", f"a:{agent}", "C-c")
    time.sleep(3)
    tmux("kill-server")
    if stayloom:
        subprocess.run([args.stayloom, "quit"], env=env, capture_output=True)
        try:
            stayloom.wait(10)
        except subprocess.TimeoutExpired:
            stayloom.kill()
    for helper in reversed(helpers):
        helper.terminate()
        try:
            helper.wait(5)
        except subprocess.TimeoutExpired:
            helper.kill()
    server.send_signal(signal.SIGINT)
    try:
        server.wait(5)
    except subprocess.TimeoutExpired:
        server.kill()
    note("round over")
    return 0


if __name__ == "__main__":
    sys.exit(main())
