// Notes each OpenCode event's type and the keys of its properties, never their values.
import { appendFileSync } from "node:fs";

const log = "@LOG@";

function note(kind, name, object, extra) {
  try {
    const stamp = new Date().toISOString().slice(11, 22);
    appendFileSync(
      log,
      JSON.stringify({ t: stamp, agent: "opencode", event: name, kind,
                       keys: Object.keys(object ?? {}).sort(), ...extra }) + "\n",
    );
  } catch {}
}

export const LogPlugin = async () => ({
  event: async ({ event }) => {
    const p = event?.properties ?? {};
    const extra = {};
    if (typeof p.status?.type === "string") extra.status = p.status.type;
    if (typeof p.type === "string") extra.type = p.type;
    if (typeof p.permission === "string") extra.permission = p.permission;
    if (typeof p.part?.type === "string") extra.part = p.part.type;
    if (typeof p.part?.state?.status === "string") extra.state = p.part.state.status;
    if (event?.type === "message.part.updated" && extra.part === "text") return;
    if (["plugin.added", "catalog.updated", "reference.updated", "integration.updated",
         "message.part.delta"].includes(event?.type)) return;
    note("event", event?.type, p, extra);
  },
  "tool.execute.before": async (input) => note("hook", "tool.execute.before", input,
                                               { tool: input?.tool }),
  "tool.execute.after": async (input) => note("hook", "tool.execute.after", input,
                                              { tool: input?.tool }),
  "permission.ask": async (input) => note("hook", "permission.ask", input,
                                          { type: input?.type }),
});
