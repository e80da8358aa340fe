#!/usr/bin/env python3
"""A stand-in model for driving real agent CLIs offline through tool turns.

Speaks four streaming dialects on 127.0.0.1: Anthropic messages, OpenAI responses, OpenAI chat
completions and Gemini generateContent. A main request that carries the agent's shell tool is
answered with a call to that tool running the configured command; the request that carries the
tool's result is answered with a short text. Codex's and Copilot's shell tools return while a
command still runs; the model then polls the running session until the command has exited.

Behaviour is read from a JSON file at every request, so one server serves a whole session:
  {"mode": "tool" | "think" | "text",
   "command": "echo running the test suite; sleep 150; echo done",
   "delay": 0, "escalate": false}
"think" answers with text only after `delay` seconds of silence (a model that thinks); "tool"
waits `delay` seconds before the tool call; "escalate" has the model ask Codex to run the command
outside its sandbox, which is when Codex asks the user. The log names requests and decisions, never the
prompts or the tools' output.
"""

import argparse
import json
import re
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DEFAULT_COMMAND = "echo running the test suite; sleep 150; echo done"
SHELL_TOOLS = ("Bash", "exec_command", "run_shell_command", "bash", "shell", "powershell")
FINAL_TEXT = "The test suite finished."

LOG_LOCK = threading.Lock()
ARGS = None
COUNTER = [0]
DUMPED = set()


def log(line):
    with LOG_LOCK:
        stamp = time.strftime("%H:%M:%S", time.gmtime()) + ".%02d" % (int(time.time() * 100) % 100)
        with open(ARGS.log, "a", encoding="utf-8") as out:
            out.write(f"{stamp} {line}\n")


def settings():
    try:
        with open(ARGS.config, encoding="utf-8") as source:
            loaded = json.load(source)
    except (OSError, ValueError):
        loaded = {}
    return {
        "mode": loaded.get("mode", "tool"),
        "command": loaded.get("command", DEFAULT_COMMAND),
        "delay": float(loaded.get("delay", 0)),
        "escalate": bool(loaded.get("escalate", False)),
    }


def next_id(prefix):
    with LOG_LOCK:
        COUNTER[0] += 1
        return f"{prefix}_{int(time.time())}{COUNTER[0]:04d}"


def fill_from_schema(schema):
    """A value that satisfies a JSON schema well enough for structured side requests."""
    if not isinstance(schema, dict):
        return "x"
    kind = schema.get("type")
    if isinstance(kind, list):
        kind = next((k for k in kind if k != "null"), "string")
    if isinstance(kind, str):
        kind = kind.lower()
    if "enum" in schema and schema["enum"]:
        return schema["enum"][0]
    if kind == "object" or "properties" in schema:
        return {k: fill_from_schema(v) for k, v in schema.get("properties", {}).items()}
    if kind == "array":
        return []
    if kind in ("integer", "number"):
        return 0
    if kind == "boolean":
        return False
    return "x"


def shell_arguments(name, schema, command, escalate=False):
    """Arguments for the agent's shell tool, shaped after the schema it sent."""
    props = (schema or {}).get("properties", {})
    required = (schema or {}).get("required", [])
    args = {}
    for key in ("command", "cmd"):
        if key in props or (not props and key == "command"):
            args[key] = command
            break
    else:
        args["command"] = command
    if "description" in props:
        args["description"] = "Run the test suite"
    if "timeout" in props:
        # Claude and OpenCode take milliseconds; ten minutes outlasts any test command here.
        args["timeout"] = 600000
    if "is_background" in props:
        args["is_background"] = False
    if "yield_time_ms" in props:
        args["yield_time_ms"] = 30000
    if escalate and "sandbox_permissions" in props:
        # Codex asks the user only for a command the model wants run outside its sandbox.
        args["sandbox_permissions"] = "require_escalated"
        args["justification"] = "Run the test suite outside the sandbox?"
    if "mode" in props:
        args["mode"] = "sync"
    if "initial_wait" in props:
        args["initial_wait"] = 30
    for key in required:
        if key not in args:
            args[key] = fill_from_schema(props.get(key, {}))
    return args


def poll_call(tool_names, schemas, output):
    """The follow-up to a shell tool that returned while its command still runs, or None."""
    if not isinstance(output, str):
        output = json.dumps(output)
    match = re.search(r"session ID (\d+)", output)
    if match and "write_stdin" in tool_names and "Process exited" not in output:
        return "write_stdin", {"session_id": int(match.group(1)), "chars": "",
                               "yield_time_ms": 30000}
    for reader in ("read_bash", "read_shell"):
        if reader in tool_names:
            ids = re.search(r"shellId[\"':= ]+([\w-]+)|session(?:Id| ID)?[\"':= ]+([\w-]+)",
                            output)
            still = re.search(r"still running|is running|running in the background|"
                              r"has not (?:yet )?(?:finished|completed)", output, re.I)
            if ids and still:
                args = {}
                props = schemas.get(reader, {}).get("properties", {})
                key = "shellId" if "shellId" in props else next(iter(props), "shellId")
                args[key] = ids.group(1) or ids.group(2)
                if "delay" in props:
                    args["delay"] = 30
                for k in schemas.get(reader, {}).get("required", []):
                    args.setdefault(k, fill_from_schema(props.get(k, {})))
                return reader, args
    return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    # -- plumbing --------------------------------------------------------------------------

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            raw = self.rfile.read(length)
        elif self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            raw = b""
            while True:
                size = int(self.rfile.readline().strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    break
                raw += self.rfile.read(size)
                self.rfile.readline()
        else:
            raw = b""
        if self.headers.get("Content-Encoding", "") == "zstd" or raw[:4] == b"\x28\xb5\x2f\xfd":
            log("zstd body, not readable")
            return {}
        if self.headers.get("Content-Encoding", "") == "gzip":
            import gzip
            raw = gzip.decompress(raw)
        try:
            return json.loads(raw or b"{}")
        except ValueError:
            return {}

    def start_stream(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/event-stream")
        self.send_header("Cache-Control", "no-cache")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()

    def chunk(self, text):
        data = text.encode()
        self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
        self.wfile.flush()

    def end_stream(self):
        self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def event(self, name, payload):
        if name:
            self.chunk(f"event: {name}\ndata: {json.dumps(payload)}\n\n")
        else:
            self.chunk(f"data: {json.dumps(payload)}\n\n")

    def send_json(self, payload, status=200):
        data = json.dumps(payload).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def wait(self, seconds):
        """Silence before the first token; a client that hangs up (a cancel) ends the wait."""
        end = time.time() + seconds
        while time.time() < end:
            time.sleep(min(0.5, end - time.time()))

    # -- routing ---------------------------------------------------------------------------

    def do_GET(self):
        path = self.path.split("?")[0]
        log(f"GET {path}")
        if path.endswith("/models"):
            self.send_json({"object": "list", "data": [{"id": "m", "object": "model",
                                                        "created": 0, "owned_by": "local"}],
                            "models": [{"slug": "m", "name": "m"}]})
        else:
            self.send_json({})

    def do_HEAD(self):
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        path = self.path.split("?")[0]
        body = self.read_body()
        try:
            if path.endswith("/v1/messages/count_tokens"):
                self.send_json({"input_tokens": 100})
            elif path.endswith("/messages"):
                self.anthropic(body)
            elif path.endswith("/responses"):
                self.openai_responses(body)
            elif path.endswith("/chat/completions"):
                self.chat(body)
            elif ":streamGenerateContent" in path or ":generateContent" in path:
                self.gemini(path, body)
            elif ":countTokens" in path:
                self.send_json({"totalTokens": 100})
            else:
                log(f"POST {path} unknown")
                self.send_json({})
        except (BrokenPipeError, ConnectionResetError):
            log(f"POST {path} client hung up")

    # -- what to answer ----------------------------------------------------------------------

    def decide(self, dialect, tool_names, schemas, last_result, is_side):
        """('tool', name, args) or ('text', None, None), with the wait before the first token."""
        conf = settings()
        if ARGS.dump_tools and tool_names and (dialect, tuple(tool_names)) not in DUMPED:
            DUMPED.add((dialect, tuple(tool_names)))
            with LOG_LOCK, open(ARGS.dump_tools, "a", encoding="utf-8") as out:
                out.write(json.dumps({"dialect": dialect, "tools": tool_names,
                                      "schemas": {k: v for k, v in schemas.items()
                                                  if k in SHELL_TOOLS or "bash" in k.lower()
                                                  or "shell" in k.lower()
                                                  or k == "write_stdin"}}) + "\n")
        shell = next((t for t in SHELL_TOOLS if t in tool_names), None)
        if last_result is not None:
            poll = poll_call(tool_names, schemas, last_result)
            if poll:
                log(f"{dialect} poll {poll[0]}")
                return ("tool", poll[0], poll[1]), 0
            log(f"{dialect} tool result -> text")
            return ("text", None, None), 0
        if is_side or shell is None:
            log(f"{dialect} side request ({len(tool_names)} tools) -> text")
            return ("text", None, None), 0
        if conf["mode"] == "tool":
            log(f"{dialect} main request -> tool {shell} after {conf['delay']}s")
            return ("tool", shell, shell_arguments(shell, schemas.get(shell), conf["command"],
                                                 conf["escalate"])), \
                conf["delay"]
        log(f"{dialect} main request -> text after {conf['delay']}s")
        return ("text", None, None), conf["delay"]

    # -- Anthropic messages -----------------------------------------------------------------

    def anthropic(self, body):
        tools = {t.get("name"): t.get("input_schema", {}) for t in body.get("tools", [])
                 if isinstance(t, dict)}
        messages = body.get("messages", [])
        last_result = None
        if messages and messages[-1].get("role") == "user" and \
                isinstance(messages[-1].get("content"), list):
            for block in messages[-1]["content"]:
                if isinstance(block, dict) and block.get("type") == "tool_result":
                    content = block.get("content")
                    last_result = content if isinstance(content, str) else json.dumps(content)
        (kind, name, args), delay = self.decide("anthropic", list(tools), tools, last_result,
                                                 is_side=False)
        model = body.get("model", "m")
        if not body.get("stream"):
            content = [{"type": "tool_use", "id": next_id("toolu"), "name": name,
                        "input": args}] if kind == "tool" else \
                [{"type": "text", "text": FINAL_TEXT}]
            self.send_json({"id": next_id("msg"), "type": "message", "role": "assistant",
                            "model": model, "content": content,
                            "stop_reason": "tool_use" if kind == "tool" else "end_turn",
                            "stop_sequence": None,
                            "usage": {"input_tokens": 10, "output_tokens": 5}})
            return
        self.start_stream()
        self.event("message_start", {"type": "message_start", "message": {
            "id": next_id("msg"), "type": "message", "role": "assistant", "model": model,
            "content": [], "stop_reason": None, "stop_sequence": None,
            "usage": {"input_tokens": 10, "output_tokens": 1}}})
        self.event("ping", {"type": "ping"})
        self.wait(delay)
        if kind == "tool":
            self.event("content_block_start", {"type": "content_block_start", "index": 0,
                                               "content_block": {"type": "tool_use",
                                                                 "id": next_id("toolu"),
                                                                 "name": name, "input": {}}})
            text = json.dumps(args)
            for piece in (text[:len(text) // 2], text[len(text) // 2:]):
                self.event("content_block_delta", {"type": "content_block_delta", "index": 0,
                                                   "delta": {"type": "input_json_delta",
                                                             "partial_json": piece}})
            stop = "tool_use"
        else:
            self.event("content_block_start", {"type": "content_block_start", "index": 0,
                                               "content_block": {"type": "text", "text": ""}})
            for word in FINAL_TEXT.split(" "):
                self.event("content_block_delta", {"type": "content_block_delta", "index": 0,
                                                   "delta": {"type": "text_delta",
                                                             "text": word + " "}})
                time.sleep(0.05)
            stop = "end_turn"
        self.event("content_block_stop", {"type": "content_block_stop", "index": 0})
        self.event("message_delta", {"type": "message_delta",
                                     "delta": {"stop_reason": stop, "stop_sequence": None},
                                     "usage": {"output_tokens": 20}})
        self.event("message_stop", {"type": "message_stop"})
        self.end_stream()

    # -- OpenAI responses (Codex) ------------------------------------------------------------

    def openai_responses(self, body):
        tools = {t.get("name"): t.get("parameters", {}) for t in body.get("tools", [])
                 if isinstance(t, dict) and t.get("name")}
        items = body.get("input", [])
        if isinstance(items, str):
            items = [{"type": "message", "role": "user", "content": items}]
        last_result = None
        if items and isinstance(items[-1], dict) and \
                items[-1].get("type") in ("function_call_output", "custom_tool_call_output"):
            last_result = items[-1].get("output", "")
        (kind, name, args), delay = self.decide("responses", list(tools), tools, last_result,
                                                 is_side=not tools)
        rid = next_id("resp")
        self.start_stream()
        self.event("response.created", {"type": "response.created", "response": {
            "id": rid, "object": "response", "status": "in_progress", "output": []}})
        self.wait(delay)
        if kind == "tool":
            text = json.dumps(args)
            item = {"type": "function_call", "id": next_id("fc"), "call_id": next_id("call"),
                    "name": name, "arguments": "", "status": "in_progress"}
            self.event("response.output_item.added", {"type": "response.output_item.added",
                                                      "output_index": 0, "item": item})
            self.event("response.function_call_arguments.delta", {
                "type": "response.function_call_arguments.delta", "item_id": item["id"],
                "output_index": 0, "delta": text})
            self.event("response.function_call_arguments.done", {
                "type": "response.function_call_arguments.done", "item_id": item["id"],
                "output_index": 0, "arguments": text})
            done = dict(item, arguments=text, status="completed")
        else:
            mid = next_id("msg")
            item = {"type": "message", "id": mid, "role": "assistant", "status": "in_progress",
                    "content": []}
            self.event("response.output_item.added", {"type": "response.output_item.added",
                                                      "output_index": 0, "item": item})
            for word in FINAL_TEXT.split(" "):
                self.event("response.output_text.delta", {
                    "type": "response.output_text.delta", "item_id": mid, "output_index": 0,
                    "content_index": 0, "delta": word + " "})
                time.sleep(0.05)
            done = dict(item, status="completed",
                        content=[{"type": "output_text", "text": FINAL_TEXT,
                                  "annotations": []}])
        self.event("response.output_item.done", {"type": "response.output_item.done",
                                                 "output_index": 0, "item": done})
        self.event("response.completed", {"type": "response.completed", "response": {
            "id": rid, "object": "response", "status": "completed", "output": [done],
            "usage": {"input_tokens": 10, "input_tokens_details": {"cached_tokens": 0},
                      "output_tokens": 5, "output_tokens_details": {"reasoning_tokens": 0},
                      "total_tokens": 15}}})
        self.end_stream()

    # -- OpenAI chat (Qwen, OpenCode, Copilot) ----------------------------------------------

    def chat(self, body):
        tools = {}
        for t in body.get("tools", []) or []:
            fn = t.get("function", {}) if isinstance(t, dict) else {}
            if fn.get("name"):
                tools[fn["name"]] = fn.get("parameters", {})
        messages = body.get("messages", [])
        last_result = None
        if messages and messages[-1].get("role") == "tool":
            content = messages[-1].get("content", "")
            last_result = content if isinstance(content, str) else json.dumps(content)
        (kind, name, args), delay = self.decide("chat", list(tools), tools, last_result,
                                                 is_side=not tools)
        model = body.get("model", "m")
        cid = next_id("chatcmpl")
        created = int(time.time())

        def chunk(delta, finish=None):
            return {"id": cid, "object": "chat.completion.chunk", "created": created,
                    "model": model, "choices": [{"index": 0, "delta": delta,
                                                 "finish_reason": finish}]}

        if not body.get("stream"):
            message = {"role": "assistant", "content": FINAL_TEXT}
            if kind == "tool":
                message = {"role": "assistant", "content": None, "tool_calls": [{
                    "id": next_id("call"), "type": "function",
                    "function": {"name": name, "arguments": json.dumps(args)}}]}
            if body.get("response_format"):
                schema = body["response_format"].get("json_schema", {}).get("schema", {})
                message["content"] = json.dumps(fill_from_schema(schema) if schema else {})
            self.send_json({"id": cid, "object": "chat.completion", "created": created,
                            "model": model, "choices": [{
                                "index": 0, "message": message,
                                "finish_reason": "tool_calls" if kind == "tool" else "stop"}],
                            "usage": {"prompt_tokens": 10, "completion_tokens": 5,
                                      "total_tokens": 15}})
            return
        self.start_stream()
        self.event(None, chunk({"role": "assistant", "content": ""}))
        self.wait(delay)
        if kind == "tool":
            text = json.dumps(args)
            self.event(None, chunk({"tool_calls": [{"index": 0, "id": next_id("call"),
                                                    "type": "function",
                                                    "function": {"name": name,
                                                                 "arguments": ""}}]}))
            self.event(None, chunk({"tool_calls": [{"index": 0,
                                                    "function": {"arguments": text}}]}))
            self.event(None, chunk({}, "tool_calls"))
        else:
            for word in FINAL_TEXT.split(" "):
                self.event(None, chunk({"content": word + " "}))
                time.sleep(0.05)
            self.event(None, chunk({}, "stop"))
        final = chunk({}, None)
        final["choices"] = []
        final["usage"] = {"prompt_tokens": 10, "completion_tokens": 5, "total_tokens": 15}
        self.event(None, final)
        self.chunk("data: [DONE]\n\n")
        self.end_stream()

    # -- Gemini --------------------------------------------------------------------------

    def gemini(self, path, body):
        tools = {}
        for group in body.get("tools", []) or []:
            for fn in group.get("functionDeclarations", []) or []:
                tools[fn.get("name")] = fn.get("parametersJsonSchema") or \
                    fn.get("parameters") or {}
        contents = body.get("contents", [])
        last_result = None
        if contents:
            for part in contents[-1].get("parts", []) or []:
                if "functionResponse" in part:
                    last_result = json.dumps(part["functionResponse"].get("response", {}))
        config = body.get("generationConfig", {}) or {}
        schema = config.get("responseJsonSchema") or config.get("responseSchema")
        streaming = ":streamGenerateContent" in path
        if schema or not streaming:
            answer = fill_from_schema(schema) if schema else {}
            if isinstance(answer, dict) and "next_speaker" in answer:
                answer["next_speaker"] = "user"
            text = json.dumps(answer) if schema else FINAL_TEXT
            log(f"gemini side request {path.rsplit(':', 1)[-1]} -> json")
            payload = {"candidates": [{"content": {"role": "model", "parts": [{"text": text}]},
                                       "finishReason": "STOP", "index": 0}],
                       "usageMetadata": {"promptTokenCount": 10, "candidatesTokenCount": 5,
                                         "totalTokenCount": 15}, "modelVersion": "m"}
            if streaming:
                self.start_stream()
                self.chunk(f"data: {json.dumps(payload)}\r\n\r\n")
                self.end_stream()
            else:
                self.send_json(payload)
            return
        (kind, name, args), delay = self.decide("gemini", list(tools), tools, last_result,
                                                 is_side=False)
        self.start_stream()
        self.wait(delay)
        if kind == "tool":
            parts = [{"functionCall": {"name": name, "args": args}}]
        else:
            parts = [{"text": FINAL_TEXT}]
        payload = {"candidates": [{"content": {"role": "model", "parts": parts},
                                   "finishReason": "STOP", "index": 0}],
                   "usageMetadata": {"promptTokenCount": 10, "candidatesTokenCount": 5,
                                     "totalTokenCount": 15}, "modelVersion": "m"}
        self.chunk(f"data: {json.dumps(payload)}\r\n\r\n")
        self.end_stream()


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--config", required=True, help="JSON file read at every request")
    parser.add_argument("--log", required=True)
    parser.add_argument("--dump-tools", help="file to write the tool names and schemas to")
    ARGS = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)
    server.daemon_threads = True
    log(f"listening on 127.0.0.1:{ARGS.port}")
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
