// A console process of its own for a test: a fresh data folder, a free
// loopback port, and its end. Shared by the browser and the API tests, so it
// needs no package.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { once } from "node:events";
import { existsSync } from "node:fs";
import { mkdtemp, rm } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";


export const REPO_ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..", "..");
export const ADMIN_USER = "admin";
export const ADMIN_PASSWORD = "browser-test-password-1";
export const SETTINGS_PATH = "scan/WebThreat_Protection.htm";

export const CONSOLE_PROGRAM =
  process.env.TESSERA_CONSOLE || path.join(REPO_ROOT, "build", "release", "bin", "tessera-console");
export const START_TIMEOUT_MS = 15_000;
const STOP_TIMEOUT_MS = 10_000;
// Consoles still running when the test process ends (a test that timed out
// and was abandoned) are killed rather than left behind.
const runningConsoles = new Set();
process.on("exit", () => {
  for (const child of runningConsoles) child.kill("SIGKILL");
});

// The child's exit code once it has ended; rejects after `timeoutMs`.
async function waitForExit(child, timeoutMs) {
  if (child.exitCode !== null || child.signalCode !== null) return child.exitCode;
  const [code] = await once(child, "exit", { signal: AbortSignal.timeout(timeoutMs) });
  return code;
}

// Starts `tessera-console serve` on a port that the system picks (the console
// prints the address it bound) with a data folder of its own, and waits until
// it answers. stop() ends it with SIGTERM and resolves to its exit code.
// `args` are more options of serve, `env` more variables of its environment.
export async function startConsole({ args = [], env = {} } = {}) {
  assert.ok(
    existsSync(CONSOLE_PROGRAM),
    `no console program at ${CONSOLE_PROGRAM}: build it, or set TESSERA_CONSOLE to its path`,
  );
  const dataDir = await mkdtemp(path.join(os.tmpdir(), "tessera-browser-"));
  const child = spawn(
    CONSOLE_PROGRAM,
    ["serve", "--listen", "127.0.0.1:0", "--data", dataDir, "--web-root", REPO_ROOT, ...args],
    { env: { ...process.env, TESSERA_ADMIN_PASSWORD: ADMIN_PASSWORD, ...env }, stdio: ["ignore", "pipe", "pipe"] },
  );
  runningConsoles.add(child);
  child.once("exit", () => runningConsoles.delete(child));
  let output = "";
  for (const stream of [child.stdout, child.stderr]) {
    stream.setEncoding("utf8");
    stream.on("data", (text) => (output += text));
  }

  const server = {
    baseUrl: "",
    dataDir,
    output: () => output,
    async stop() {
      try {
        child.kill("SIGTERM");
        return await waitForExit(child, STOP_TIMEOUT_MS).catch(async () => {
          child.kill("SIGKILL");
          await waitForExit(child, STOP_TIMEOUT_MS);
          throw new Error(`the console did not stop on SIGTERM; its output:\n${output}`);
        });
      } finally {
        await rm(dataDir, { recursive: true, force: true });
      }
    },
  };

  try {
    server.baseUrl = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error("the console did not start in time")), START_TIMEOUT_MS);
      child.stdout.on("data", () => {
        const found = /open (http:\/\/127\.0\.0\.1:\d+\/)/.exec(output);
        if (found) {
          clearTimeout(timer);
          resolve(found[1]);
        }
      });
      child.once("exit", (code) => {
        clearTimeout(timer);
        reject(new Error(`the console exited with ${code} at start`));
      });
      child.once("error", reject);
    });
    const answer = await fetch(new URL("login", server.baseUrl), { signal: AbortSignal.timeout(START_TIMEOUT_MS) });
    assert.equal(answer.status, 200, "the sign-in page answers");
    await answer.arrayBuffer();
  } catch (failure) {
    await server.stop().catch(() => {});
    throw new Error(`${failure.message}; console output:\n${output}`);
  }
  return server;
}
