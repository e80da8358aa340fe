// Stayloom's OpenCode plugin.
// Written by `stayloom hooks install opencode`; `stayloom hooks remove opencode` removes it.
// Tells Stayloom when a session starts and ends a turn, runs a tool and asks for a
// permission: the event's name and the session's id only, never a prompt.
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
    } else if (event?.type === "permission.asked" || event?.type === "permission.updated") {
      tell("permission", properties.sessionID);
    } else if (event?.type === "permission.replied") {
      tell("replied", properties.sessionID);
    }
  },
  "tool.execute.before": async (input) => {
    tell("tool", input?.sessionID);
  },
  "tool.execute.after": async (input) => {
    tell("toolDone", input?.sessionID);
  },
});
