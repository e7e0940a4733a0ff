// The automation API over real HTTP against a console process: the document,
// every endpoint for every role and token scope, If-Match, tokens that expire
// or are revoked, the rate limit, and a large list's PATCH against the page's
// own save. Every answer is checked against the OpenAPI document.
import assert from "node:assert/strict";
import path from "node:path";
import { execFile, spawn } from "node:child_process";
import { once } from "node:events";
import { after, before, describe, test } from "node:test";
import { promisify } from "node:util";

import SwaggerParser from "@apidevtools/swagger-parser";

import { ADMIN_USER, SETTINGS_PATH, startConsole } from "../browser/console_process.mjs";
import { DOCUMENT, addAccount, call, consoleCommand, createToken, signIn } from "./api_client.mjs";

const run = promisify(execFile);


test("the OpenAPI document is valid, and names every endpoint the console serves", async () => {
  await SwaggerParser.validate(structuredClone(DOCUMENT));
  assert.deepEqual(Object.keys(DOCUMENT.paths).sort(), [
    "/approved-list",
    "/approved-list/match",
    "/audit",
    "/history",
    "/history/{record}/restore",
    "/openapi.json",
    "/policies",
    "/policies/{id}",
    "/policies/{id}/reset",
  ]);
});

describe("roles and scopes", () => {
  let server;
  const callers = {};
  before(async () => {
    server = await startConsole();
    await addAccount(server, "ed", "editor");
    await addAccount(server, "aud", "auditor");
    callers["administrator, write token"] = { token: await createToken(server, ADMIN_USER, "all", "write") };
    callers["editor, write token"] = { token: await createToken(server, "ed", "edit", "write") };
    callers["editor, read token"] = { token: await createToken(server, "ed", "look", "read") };
    callers["auditor, read token"] = { token: await createToken(server, "aud", "look", "read") };
    callers["administrator, session"] = { cookie: await signIn(server), origin: true };
    callers["no one"] = {};
  });
  after(() => server?.stop());

  const canWrite = ["administrator, write token", "editor, write token", "administrator, session"];
  // "*" matches any version: these cases are about who may, not about versions.
  const endpoints = [
    { method: "GET", path: "/policies", writes: false },
    { method: "GET", path: "/policies/URL_FILTER_FILE", writes: false },
    {
      method: "PUT",
      path: "/policies/URL_FILTER_FILE",
      writes: true,
      body: async (who) => (await call(server, "GET", "/policies/URL_FILTER_FILE", who)).body,
    },
    { method: "POST", path: "/policies/URL_FILTER_FILE/reset", writes: true },
    { method: "GET", path: "/approved-list?limit=2", writes: false },
    { method: "PATCH", path: "/approved-list", writes: true, body: async () => ({ add: ["www.role-test.org"] }) },
    { method: "PUT", path: "/approved-list", writes: true, body: async () => ({ entries: ["*.example.com"] }) },
    { method: "GET", path: "/approved-list/match?url=https%3A%2F%2Fwww.example.com%2F", writes: false },
    { method: "GET", path: "/history?limit=5", writes: false },
    { method: "GET", path: "/audit?limit=5", writes: false },
    { method: "POST", path: "/history/1/restore", writes: true },
  ];
  for (const endpoint of endpoints) {
    test(`${endpoint.method} ${endpoint.path}`, async () => {
      for (const [who, credentials] of Object.entries(callers)) {
        const admin = callers["administrator, write token"];
        const json = endpoint.body ? await endpoint.body(admin) : undefined;
        const answer = await call(server, endpoint.method, endpoint.path, {
          ...credentials,
          json,
          headers: endpoint.writes ? { "If-Match": "*" } : {},
        });
        const expected = !credentials.token && !credentials.cookie ? 401 : !endpoint.writes || canWrite.includes(who) ? 200 : 403;
        // A restore of record 1 undoes nothing the first time round: every later change is undone instead.
        const status = endpoint.path.includes("restore") && answer.status === 409 ? 200 : answer.status;
        assert.equal(status, expected, `${who}: ${JSON.stringify(answer.body).slice(0, 300)}`);
      }
    });
  }

  test("a session's change needs the console's Origin; a token's does not", async () => {
    const { cookie } = callers["administrator, session"];
    const without = await call(server, "PATCH", "/approved-list", { cookie, json: { add: ["www.a.org"] }, headers: { "If-Match": "*" } });
    assert.equal(without.status, 403);
    const token = await call(server, "PATCH", "/approved-list", {
      ...callers["editor, write token"],
      json: { add: ["www.a.org"] },
      headers: { "If-Match": "*" },
    });
    assert.equal(token.status, 200);
  });

  test("a token never opens the browser's pages", async () => {
    const answer = await fetch(new URL(SETTINGS_PATH, server.baseUrl), {
      headers: { Authorization: `Bearer ${callers["administrator, write token"].token}` },
      redirect: "manual",
    });
    await answer.arrayBuffer();
    assert.equal(answer.status, 303);
    assert.equal(answer.headers.get("location"), "/login");
  });

  test("each write by a token is audited with its name, through the api channel", async () => {
    const { token } = callers["editor, write token"];
    const patched = await call(server, "PATCH", "/approved-list", { token, json: { add: ["www.audited.org"] }, headers: { "If-Match": "*" } });
    assert.equal(patched.status, 200);
    const history = await call(server, "GET", `/history?limit=1`, { token });
    const [record] = history.body.records;
    assert.equal(record.seq, patched.body.record);
    assert.deepEqual([record.user, record.channel, record.token, record.action], ["ed", "api", "edit", "save"]);
  });
});

describe("versions and If-Match", () => {
  let server;
  let token;
  before(async () => {
    server = await startConsole();
    token = await createToken(server, ADMIN_USER, "writer", "write");
  });
  after(() => server?.stop());

  const changes = [
    {
      name: "PUT of a policy",
      read: "/policies/URL_FILTER",
      method: "PUT",
      path: "/policies/URL_FILTER",
      json: (read) => ({ ...read, securityLevel: read.securityLevel === "low" ? "high" : "low" }),
    },
    { name: "reset of a policy", read: "/policies/URL_FILTER", method: "POST", path: "/policies/URL_FILTER/reset" },
    { name: "PATCH of the list", read: "/approved-list", method: "PATCH", path: "/approved-list", json: () => ({ add: [`www.${Math.random()}.org`] }) },
    { name: "PUT of the list", read: "/approved-list", method: "PUT", path: "/approved-list", json: () => ({ entries: [`www.${Math.random()}.org`] }) },
    // Undoes the latest record that changed something (the changes above made some).
    {
      name: "restore from History",
      read: "/history?limit=50",
      method: "POST",
      path: (read) => `/history/${read.records.find((record) => record.changes !== null).seq}/restore`,
    },
  ];
  for (const change of changes) {
    test(`${change.name}: 428 without If-Match, 412 with a stale one, stored with the current one`, async () => {
      const first = await call(server, "GET", change.read, { token });
      const json = change.json?.(first.body);
      const where = typeof change.path === "function" ? change.path(first.body) : change.path;
      const missing = await call(server, change.method, where, { token, json });
      assert.equal(missing.status, 428);
      const current = first.headers.get("etag");
      const stored = await call(server, change.method, where, { token, json, headers: { "If-Match": current } });
      assert.equal(stored.status, 200, JSON.stringify(stored.body));
      assert.notEqual(stored.headers.get("etag"), current, "the change made a new version");
      const stale = await call(server, change.method, where, { token, json, headers: { "If-Match": current } });
      assert.equal(stale.status, 412);
      assert.equal(stale.headers.get("etag"), (await call(server, "GET", change.read, { token })).headers.get("etag"));
    });
  }

  test("a save that changes nothing keeps the version", async () => {
    const read = await call(server, "GET", "/policies/URL_FILTER_FILE", { token });
    const etag = read.headers.get("etag");
    const same = await call(server, "PUT", "/policies/URL_FILTER_FILE", { token, json: read.body, headers: { "If-Match": etag } });
    assert.equal(same.status, 200);
    assert.equal(same.headers.get("etag"), etag);
  });

  test("a body the API cannot take is a problem that names the member", async () => {
    const read = (await call(server, "GET", "/policies/URL_FILTER", { token })).body;
    const cases = [
      { json: { ...read, securityLevel: "extreme" }, status: 422, field: "/securityLevel" },
      { json: { ...read, action: { ...read.action, type: 7 } }, status: 422, field: "/action/type" },
      { json: { ...read, enabled: "yes" }, status: 422, field: "/enabled" },
      { json: { ...read, archiving: true }, status: 422, field: "/archiving" },
      { json: (({ archive, ...rest }) => rest)(read), status: 422, field: "/archive" },
      { text: "not json", status: 415 },
    ];
    for (const { json, text, status, field } of cases) {
      const answer = await call(server, "PUT", "/policies/URL_FILTER", { token, json, text, headers: { "If-Match": "*" } });
      assert.equal(answer.status, status, JSON.stringify(answer.body));
      if (field) assert.equal(answer.body.field, field);
    }
    const broken = await fetch(new URL("api/v1/policies/URL_FILTER", server.baseUrl), {
      method: "PUT",
      headers: { Authorization: `Bearer ${token}`, "Content-Type": "application/json", "If-Match": "*" },
      body: "{",
    });
    assert.equal(broken.status, 400);
    assert.equal(broken.headers.get("content-type"), "application/problem+json");
    await broken.arrayBuffer();
  });

  test("the match endpoint reads the list as the README says", async () => {
    await call(server, "PUT", "/approved-list", {
      token,
      json: { entries: ["*.example.com", "www.exact.org"] },
      headers: { "If-Match": "*" },
    });
    const cases = [
      ["https://example.com/", "*.example.com"],
      ["http://deep.sub.EXAMPLE.com:8080/path?q", "*.example.com"],
      ["notexample.com", null],
      ["https://www.exact.org/page", "www.exact.org"],
      ["https://sub.www.exact.org/", null],
      ["https://exact.org/", null],
    ];
    for (const [url, entry] of cases) {
      const answer = await call(server, "GET", `/approved-list/match?url=${encodeURIComponent(url)}`, { token });
      assert.equal(answer.status, 200);
      assert.equal(answer.body.entry, entry, url);
      assert.equal(answer.body.approved, entry !== null, url);
    }
  });
});

describe("tokens", () => {
  let server;
  before(async () => {
    server = await startConsole({ args: ["--api-rate-limit", "5"] });
  });
  after(() => server?.stop());

  test("a token past its expiry, revoked, or of a disabled account opens nothing", async () => {
    const expiring = await createToken(server, ADMIN_USER, "expiring", "read");
    assert.equal((await call(server, "GET", "/policies", { token: expiring })).status, 200);
    await run("sqlite3", [
      path.join(server.dataDir, "store.db"),
      "UPDATE api_tokens SET expires = '2020-01-01T00:00:00Z' WHERE name = 'expiring'",
    ]);
    const expired = await call(server, "GET", "/policies", { token: expiring });
    assert.equal(expired.status, 401);
    assert.match(expired.body.detail, /expired/);

    const revoked = await createToken(server, ADMIN_USER, "revoked", "read");
    const id = revoked.split("_")[1];
    await consoleCommand(server, "token", "revoke", id);
    assert.equal((await call(server, "GET", "/policies", { token: revoked })).status, 401);

    await addAccount(server, "leaver", "editor");
    const leavers = await createToken(server, "leaver", "x", "write");
    assert.equal((await call(server, "GET", "/policies", { token: leavers })).status, 200);
    await consoleCommand(server, "user", "disable", "leaver");
    assert.equal((await call(server, "GET", "/policies", { token: leavers })).status, 401);
    assert.equal((await call(server, "GET", "/policies", { token: "tsr_nonsense" })).status, 401);
  });

  test("a token's requests past its limit a minute are answered 429 with Retry-After", async () => {
    const busy = await createToken(server, ADMIN_USER, "busy", "read");
    const other = await createToken(server, ADMIN_USER, "other", "read");
    for (let index = 0; index < 5; ++index) {
      assert.equal((await call(server, "GET", "/policies", { token: busy })).status, 200);
    }
    const refused = await call(server, "GET", "/policies", { token: busy });
    assert.equal(refused.status, 429);
    assert.ok(Number(refused.headers.get("retry-after")) >= 1);
    assert.equal((await call(server, "GET", "/policies", { token: other })).status, 200, "each token has its own");
  });
});

describe("a large list", () => {
  let server;
  before(async () => {
    server = await startConsole();
  });
  after(() => server?.stop());

  // A million entries, some of them the entry rule changes or refuses.
  const ENTRIES = 1_000_000;
  const list = Array.from({ length: ENTRIES }, (_, index) =>
    index % 1000 === 7 ? `Host${index}.Example.NET` : index % 1000 === 9 ? "*." : `*.site${index}.example.com`,
  );
  const added = ["www.new-one.org", "new-two.example.com", "*.SITE5.example.com", ";", "*.bad..name"];
  const removed = ["*.site10.example.com", "*.SITE20.EXAMPLE.COM", "*.not-there.example"];

  test("a PATCH stores exactly the list the settings page's save would", { timeout: 300_000 }, async () => {
    const token = await createToken(server, ADMIN_USER, "bulk", "write");
    const exported = async () => (await call(server, "GET", "/approved-list", { token, headers: { Accept: "text/plain" } })).body;
    const replace = async () => {
      const answer = await call(server, "PUT", "/approved-list", { token, json: { entries: list }, headers: { "If-Match": "*" } });
      assert.equal(answer.status, 200);
    };

    await replace();
    const stored = await exported();
    const patched = await call(server, "PATCH", "/approved-list", {
      token,
      json: { add: added, remove: removed },
      headers: { "If-Match": "*" },
    });
    assert.equal(patched.status, 200, JSON.stringify(patched.body));
    const byApi = await exported();

    // The page posts the list as it shows it, without the removed entries and with the new ones last.
    await replace();
    const shown = stored.split(/\r?\n/).filter(Boolean);
    const gone = new Set(removed.map((entry) => entry.toLowerCase()));
    const form = new URLSearchParams({ FormAction: "save", txtPolicyInstanceId: "URL_FILTER" });
    for (const entry of [...shown.filter((entry) => !gone.has(entry.toLowerCase())), ...added]) form.append("stApprovedURL", entry);
    const cookie = await signIn(server);
    const saved = await fetch(new URL(SETTINGS_PATH, server.baseUrl), {
      method: "POST",
      headers: { Cookie: cookie, Origin: new URL(server.baseUrl).origin, "Content-Type": "application/x-www-form-urlencoded" },
      body: form,
    });
    await saved.arrayBuffer();
    assert.equal(saved.status, 200);
    const byPage = await exported();

    assert.ok(byApi.length > 0);
    assert.equal(byApi, byPage);
    assert.equal(patched.body.total, byApi.split(/\r?\n/).filter(Boolean).length);
  });
});

describe("a store that refuses", () => {
  let server;
  before(async () => {
    server = await startConsole({ env: { TESSERA_STORE_BUSY_MS: "200" } });
  });
  after(() => server?.stop());

  test("a change while another program holds the store's write lock is 503, stores nothing, and its record says so", async () => {
    const token = await createToken(server, ADMIN_USER, "locked-out", "write");
    const before = await call(server, "GET", "/approved-list", { token });
    const holder = spawn("sqlite3", [path.join(server.dataDir, "store.db")], { stdio: ["pipe", "pipe", "inherit"] });
    try {
      holder.stdin.write("BEGIN IMMEDIATE;\nSELECT 'held';\n");
      await once(holder.stdout, "data");
      const refused = await call(server, "PATCH", "/approved-list", {
        token,
        json: { add: ["www.refused.org"] },
        headers: { "If-Match": before.headers.get("etag") },
      });
      assert.equal(refused.status, 503);
      assert.ok(Number(refused.headers.get("retry-after")) > 0);
      assert.match(refused.body.detail, /^Nothing was stored: /);
    } finally {
      holder.stdin.end("COMMIT;\n");
      await once(holder, "exit");
    }
    const after = await call(server, "GET", "/approved-list", { token });
    assert.equal(after.headers.get("etag"), before.headers.get("etag"), "nothing was stored");
    const [kept] = (await call(server, "GET", "/history?limit=1", { token })).body.records;
    assert.equal(kept.token, "locked-out");
    assert.equal(typeof kept.rolledBack, "string", "the record of the save says it was rolled back");
  });
});
