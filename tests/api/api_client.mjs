// Shared by the API tests: requests to a console's /api/v1, each answer
// checked against the console's own OpenAPI document (the schema of its
// operation, status and content type), accounts and tokens made with the
// command line, and a browser-like sign-in for session cookies.
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { readFileSync } from "node:fs";
import path from "node:path";
import { promisify } from "node:util";

import Ajv2020 from "ajv/dist/2020.js";

import { ADMIN_PASSWORD, ADMIN_USER, CONSOLE_PROGRAM, REPO_ROOT } from "../browser/console_process.mjs";

export const DOCUMENT_FILE = path.join(REPO_ROOT, "web", "api", "openapi.json");
export const DOCUMENT = JSON.parse(readFileSync(DOCUMENT_FILE, "utf8"));
const API_BASE = "api/v1";

const ajv = new Ajv2020({ strict: false, allErrors: true });
ajv.addSchema({ ...DOCUMENT, $id: "openapi" });

const pointer = (...segments) =>
  "#/" + segments.map((s) => encodeURIComponent(String(s).replaceAll("~", "~0").replaceAll("/", "~1"))).join("/");

// The document's path template that `apiPath` ("/policies/URL_FILTER") is of.
function templateOf(apiPath) {
  for (const template of Object.keys(DOCUMENT.paths)) {
    const shape = new RegExp("^" + template.replace(/\{[^}]+\}/g, "[^/]+") + "$");
    if (shape.test(apiPath)) return template;
  }
  return null;
}

// Fails unless `body` is what the document says `method apiPath` answers with `status` and `type`.
export function assertDocumented(method, apiPath, status, type, body) {
  const template = templateOf(apiPath);
  assert.ok(template, `${apiPath} is in the document`);
  const operation = DOCUMENT.paths[template][method.toLowerCase()];
  assert.ok(operation, `${method} ${template} is in the document`);
  let where = ["paths", template, method.toLowerCase(), "responses", String(status)];
  let response = operation.responses[String(status)];
  if (!response) {
    where = ["paths", template, method.toLowerCase(), "responses", "default"];
    response = operation.responses.default;
  }
  if (response.$ref) {
    where = response.$ref.slice(2).split("/");
    response = where.reduce((node, key) => node[key], DOCUMENT);
  }
  const bareType = type.split(";")[0].trim();
  assert.ok(response.content?.[bareType], `${method} ${template} ${status} is documented as ${bareType}`);
  const validate = ajv.getSchema("openapi" + pointer(...where, "content", bareType, "schema"));
  assert.ok(validate(body), `${method} ${apiPath} ${status}: ${ajv.errorsText(validate.errors)}`);
}

// One request to the API; the answer with its JSON (or text) body, checked against the document.
export async function call(server, method, apiPath, { token, cookie, headers = {}, json, text, origin } = {}) {
  const sent = { ...headers };
  if (token) sent.Authorization = `Bearer ${token}`;
  if (cookie) sent.Cookie = cookie;
  if (origin) sent.Origin = new URL(server.baseUrl).origin;
  let body;
  if (json !== undefined) {
    sent["Content-Type"] = "application/json";
    body = JSON.stringify(json);
  } else if (text !== undefined) {
    sent["Content-Type"] = "text/plain; charset=utf-8";
    body = text;
  }
  const address = new URL(`${API_BASE}${apiPath}`, server.baseUrl);
  const answer = await fetch(address, { method, headers: sent, body, redirect: "manual" });
  const type = answer.headers.get("content-type") || "";
  const raw = await answer.text();
  const parsed = type.includes("json") ? JSON.parse(raw) : raw;
  assertDocumented(method, address.pathname.slice(API_BASE.length + 1), answer.status, type, parsed);
  return { status: answer.status, headers: answer.headers, body: parsed };
}

const run = promisify(execFile);

// The console's command line on the server's data folder; its standard output.
export async function consoleCommand(server, ...args) {
  const { stdout } = await run(CONSOLE_PROGRAM, [...args, "--data", server.dataDir, "--web-root", REPO_ROOT]);
  return stdout;
}

// A new token of `user`, its text as printed once.
export async function createToken(server, user, name, scope, ...more) {
  const printed = await consoleCommand(server, "token", "create", "--user", user, "--name", name, "--scope", scope, ...more);
  const secret = printed.trim().split("\n").pop();
  assert.match(secret, /^tsr_/, "the token is printed last");
  return secret;
}

export async function addAccount(server, name, role) {
  const printed = await consoleCommand(server, "user", "add", name, "--role", role, "--generate-password");
  return printed.trim().split(" ").pop();
}

// A session cookie of `user`, signed in as the sign-in page's form does.
export async function signIn(server, user = ADMIN_USER, password = ADMIN_PASSWORD) {
  const answer = await fetch(new URL("login", server.baseUrl), {
    method: "POST",
    headers: { "Content-Type": "application/x-www-form-urlencoded", Origin: new URL(server.baseUrl).origin },
    body: new URLSearchParams({ username: user, password }),
    redirect: "manual",
  });
  await answer.arrayBuffer();
  const cookie = (answer.headers.get("set-cookie") || "").split(";")[0];
  assert.match(cookie, /^tessera_session=./, `${user} signs in`);
  return cookie;
}
