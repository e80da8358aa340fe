// Stayloom's OpenCode plugin.
// Written by `stayloom hooks install opencode`; `stayloom hooks remove opencode` removes it.
// Tells Stayloom when a session starts and ends a turn: the event's name and the
// session's id only, never a prompt.
import { spawn } from "node:child_process";

const program = STAYLOOM_PROGRAM;

function tell(event, sessionID) {
  try {
    const child = spawn(program, ["hook", "opencode", event], {
      stdio: ["pipe", "ignore", "ignore"],
    });
    child.on("error", () => {});
    child.stdin.on("error", () => {});
    child.stdin.end(JSON.stringify({ session_id: String(sessionID ?? "") }));
    child.unref();
  } catch {}
}

export const StayloomPlugin = async () => ({
  event: async ({ event }) => {
    const properties = event?.properties ?? {};
    if (event?.type === "session.status") {
      tell(properties.status?.type === "idle" ? "idle" : "busy", properties.sessionID);
    } else if (event?.type === "session.idle") {
      tell("idle", properties.sessionID);
    }
  },
});
