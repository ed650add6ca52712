// A host application's use of scribbet, gripwell and vantor, in TypeScript on Node.js (18 or
// later), with child_process.
//
//   node host.js [--tools DIR] insert PID TEXT   insert TEXT into PID's focused text field
//   node host.js [--tools DIR] watch-key [KEY]   report a modifier key until ended (SIGTERM, Ctrl-C)
//   node host.js [--tools DIR] watch-apps        report application activations until ended
//
// DIR holds the three executables (default: found on PATH). Compile with `npx tsc -p examples`
// after `npm ci` in the source tree. docs/integration.md explains each step; the tests in
// tests/desktop/examples_test.py run the compiled file against the Linux build.

import { execFile, spawn } from "node:child_process";
import { mkdtemp, rm, writeFile } from "node:fs/promises";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";

const runTimeoutMs = 10_000; // scribbet waits as long as the target application takes to answer
const startTimeoutMs = 5_000; // for gripwell or vantor to write their first line

// scribbet's one line. Members are present only when they have a value.
interface ScribbetAnswer {
  status: string;
  error?: string;
  role?: string;
  subrole?: string;
  targetPid?: number;
  focusedPid?: number;
  selectionUpdated?: boolean;
  frontmostPidBefore?: number;
  frontmostConfirmed?: boolean;
}

// Outcomes where the focus is in the target but its field cannot be edited through the
// accessibility interface: the application's own paste command may still take the text.
const fallBackToPaste = new Set([
  "no_focused_element", "no_focused_text_input", "value_unavailable", "value_not_string",
  "value_not_settable", "selection_unavailable", "selection_not_range",
  "selection_not_settable", "set_value_failed",
]);

let tools = "";

function tool(name: string): string {
  return tools ? join(tools, name) : name; // spawn looks a bare name up on PATH
}

function say(text: string): void {
  process.stdout.write(text + "\n");
}

// ---- scribbet ---------------------------------------------------------------------------------

// Runs scribbet once; its answer, or undefined when it gave none.
function runScribbet(pid: number, secondArgument: string): Promise<ScribbetAnswer | undefined> {
  return new Promise((resolve) => {
    const child = execFile(tool("scribbet"), [String(pid), secondArgument],
                           { timeout: runTimeoutMs, killSignal: "SIGKILL", encoding: "utf8" },
                           (error, stdout) => {
      if (error && error.killed) {
        say("scribbet: no answer in time");
        resolve(undefined);
        return;
      }
      if (error && typeof error.code === "string") { // ENOENT, EACCES: it did not start
        say(`scribbet did not start: ${error.message}`);
        resolve(undefined);
        return;
      }
      const line = stdout.replace(/\n$/, "");
      say(`scribbet: ${line}`);
      try {
        const answer: unknown = JSON.parse(line);
        const valid = typeof answer === "object" && answer !== null && "status" in answer;
        resolve(valid ? (answer as ScribbetAnswer) : undefined);
      } catch {
        resolve(undefined);
      }
    });
    child.stdin?.end(); // scribbet reads no input
  });
}

// The text for fast paste. A host app uses its platform's clipboard API.
function putOnClipboard(text: string): Promise<void> {
  const [command, ...args] = process.platform === "darwin"
    ? ["pbcopy"]
    : ["xclip", "-selection", "clipboard"]; // stays in the background to serve the clipboard
  return new Promise((resolve, reject) => {
    const child = spawn(command, args, { stdio: ["pipe", "ignore", "ignore"] });
    child.on("error", reject);
    child.on("exit", (code) => (code === 0 ? resolve() : reject(new Error(`${command}: ${code}`))));
    child.stdin.end(text, "utf8");
  });
}

function permissionNeeded(): string {
  return process.platform === "darwin"
    ? "permission needed: allow this application in System Settings, Privacy & Security, Accessibility"
    : "permission needed: the desktop's accessibility bus is not running";
}

async function insert(pid: number, text: string): Promise<string> {
  // The text goes in a file of its own, in a folder readable by this user only.
  const folder = await mkdtemp(join(tmpdir(), "host-text-"));
  let answer: ScribbetAnswer | undefined;
  try {
    const path = join(folder, "text");
    await writeFile(path, text, { encoding: "utf8", mode: 0o600 });
    answer = await runScribbet(pid, path);
  } finally {
    await rm(folder, { recursive: true, force: true });
  }
  if (!answer) return "not inserted: scribbet gave no answer";
  if (answer.status === "inserted") {
    return answer.selectionUpdated === false
      ? `inserted directly; the caret was not moved (${answer.error})`
      : "inserted directly";
  }
  if (answer.status === "accessibility_not_trusted") return permissionNeeded();
  if (answer.status === "target_mismatch") {
    // The user has moved on to another application: write nothing anywhere.
    return `not inserted: the focus is in process ${answer.focusedPid}`;
  }
  if (answer.status === "set_value_failed" && answer.error === "cannot_complete") {
    // The application did not answer in time: it may still take the text. Pasting it too could
    // insert it twice.
    return "perhaps not inserted: the application did not answer in time";
  }
  if (!fallBackToPaste.has(answer.status)) {
    return `not inserted: ${answer.status} (${answer.error})`;
  }

  say(`falling back to fast paste after ${answer.status}`);
  try {
    await putOnClipboard(text);
  } catch (error) {
    return `not inserted: the clipboard cannot be set (${(error as Error).message})`;
  }
  for (let attempt = 1; attempt <= 2; attempt++) {
    answer = await runScribbet(pid, "--fast-paste");
    if (!answer) return "not inserted: scribbet gave no answer";
    // The target may be slow to come to the front; one more try.
    if (answer.status !== "activation_failed") break;
  }
  switch (answer.status) {
    case "inserted":
      return "inserted by fast paste";
    case "accessibility_not_trusted":
      return permissionNeeded();
    case "activation_failed":
      return `not inserted: process ${pid} did not come to the front`;
    default:
      return `not inserted: ${answer.status} (${answer.error})`;
  }
}

// ---- gripwell and vantor ----------------------------------------------------------------------

// Starts a long-running tool and follows it. Its first line must be "ready", within
// startTimeoutMs; anything else (an error line, end of output, nothing in time) goes to
// notStarted. Every later line goes to onLine. When this host is asked to end (SIGTERM, SIGHUP,
// Ctrl-C) it ends the tool with SIGTERM and exits, with status 0, once the tool has ended.
function follow(name: string, args: string[], watching: string,
                notStarted: (line: string | undefined) => string,
                onLine: (line: string) => void): void {
  let started = false;
  let ready = false;
  let ending = false;
  const child = spawn(tool(name), args, { stdio: ["ignore", "pipe", "ignore"] });
  child.on("spawn", () => {
    started = true;
    say(`started ${name} (pid ${child.pid})`);
  });
  child.on("error", (error) => say(`${name} did not start: ${error.message}`));
  const timer = setTimeout(() => {
    say(notStarted(undefined));
    child.kill("SIGTERM");
  }, startTimeoutMs);
  createInterface({ input: child.stdout! }).on("line", (line) => {
    if (ready) {
      onLine(line);
      return;
    }
    clearTimeout(timer);
    ready = line === "ready";
    say(ready ? watching : notStarted(line));
  });
  // "close" comes after the last line has been read.
  child.on("close", (code, signal) => {
    clearTimeout(timer);
    process.exitCode = ready && ending ? 0 : 1;
    if (!started) return;
    if (ready && !ending) say(`${name} stopped by itself`);
    say(`${name} ended ` + (signal ? `by signal ${signal}` : `with status ${code}`));
  });
  const end = () => {
    ending = true;
    if (child.exitCode === null && child.signalCode === null) child.kill("SIGTERM");
  };
  for (const signal of ["SIGTERM", "SIGHUP", "SIGINT"] as const) process.on(signal, end);
}

const gripwellStartErrors: Record<string, string> = {
  "error:event_tap_failed": "cannot watch keys: the system refused the event tap",
  "error:runloop_source_failed": "cannot watch keys: the run loop refused the event source",
};

const keyLines: Record<string, string> = {
  down: "key down", up: "key up", combo_space: "space while the key is held",
};

function watchKey(key: string | undefined): void {
  // An error line is gripwell's only line; its exit status (1, 2 or 3) follows.
  follow("gripwell", key ? [key] : [], "watching the key", (line) => {
    if (line === "error:accessibility_not_granted") return permissionNeeded();
    if (line !== undefined && line in gripwellStartErrors) return gripwellStartErrors[line];
    return `gripwell did not start: ${line ?? "no line in time"}`;
  }, (line) => say(keyLines[line] ?? `unexpected line ${line}`));
}

// APP:bundle-id|name|pid. A name may hold "|"; a bundle identifier does not, and the pid is
// always last.
function parseActivation(line: string): { bundleId: string; name: string; pid: number } | undefined {
  const match = /^APP:([^|]*)\|(.*)\|(-?[0-9]+)$/s.exec(line);
  return match ? { bundleId: match[1], name: match[2], pid: Number(match[3]) } : undefined;
}

function watchApps(): void {
  follow("vantor", [], "watching applications",
         (line) => `vantor did not start: ${line ?? "no line in time"}`, (line) => {
    const activation = parseActivation(line);
    if (activation) {
      const bundleId = activation.bundleId || "no bundle identifier";
      say(`active: ${activation.name} (${bundleId}, pid ${activation.pid})`);
    }
  });
}

async function main(argv: string[]): Promise<number> {
  if (argv[0] === "--tools" && argv.length > 1) {
    tools = argv[1];
    argv = argv.slice(2);
  }
  const [command, ...rest] = argv;
  if (command === "insert" && rest.length === 2 && /^[0-9]+$/.test(rest[0])) {
    say(await insert(Number(rest[0]), rest[1]));
    return 0;
  }
  if (command === "watch-key" && rest.length <= 1) {
    watchKey(rest[0]);
    return -1; // runs until ended
  }
  if (command === "watch-apps" && rest.length === 0) {
    watchApps();
    return -1;
  }
  process.stderr.write("usage: host.js [--tools DIR] insert PID TEXT | watch-key [KEY] | watch-apps\n");
  return 2;
}

main(process.argv.slice(2)).then((status) => {
  if (status >= 0) process.exitCode = status;
});
