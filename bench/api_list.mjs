// The automation API with large approved lists: a console of its own, a
// write token, then for each size the time of a PUT of the whole list, a
// PATCH that adds one entry and removes another, and a GET of a page of
// 10 000 entries, over loopback HTTP, each the median of several runs; each
// answer is checked. Run from the repository after the release build:
//   node bench/api_list.mjs [entries...]      (default: 1000 100000 1000000)
import assert from "node:assert/strict";

import { ADMIN_USER, startConsole } from "../tests/browser/console_process.mjs";
import { createToken } from "../tests/api/api_client.mjs";

const sizes = process.argv.slice(2).map(Number);
const ENTRY_COUNTS = sizes.length > 0 ? sizes : [1_000, 100_000, 1_000_000];
const RUNS = 5;

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

const server = await startConsole();
try {
  const token = await createToken(server, ADMIN_USER, "bench", "write");
  const api = async (method, apiPath, json) => {
    const started = performance.now();
    const answer = await fetch(new URL(`api/v1${apiPath}`, server.baseUrl), {
      method,
      headers: { Authorization: `Bearer ${token}`, "Content-Type": "application/json", "If-Match": "*" },
      body: json === undefined ? undefined : JSON.stringify(json),
    });
    const body = await answer.json();
    const elapsed = performance.now() - started;
    assert.equal(answer.status, 200, JSON.stringify(body).slice(0, 300));
    return { body, seconds: elapsed / 1000 };
  };
  console.log("| Entries | PUT of the list | PATCH of one entry | GET of 10 000 |");
  console.log("|---:|---:|---:|---:|");
  for (const count of ENTRY_COUNTS) {
    const entries = Array.from({ length: count }, (_, index) => `*.site${index}.example.com`);
    const puts = [];
    const patches = [];
    const gets = [];
    for (let run = 0; run < RUNS; ++run) {
      const put = await api("PUT", "/approved-list", { entries });
      assert.equal(put.body.total, count);
      puts.push(put.seconds);
      const patch = await api("PATCH", "/approved-list", { add: [`www.added${run}.org`], remove: ["*.site7.example.com"] });
      assert.equal(patch.body.total, count);
      patches.push(patch.seconds);
      const page = await api("GET", `/approved-list?cursor=${Math.floor(count / 2)}&limit=10000`);
      assert.equal(page.body.entries.length, Math.min(10_000, count - Math.floor(count / 2)));
      gets.push(page.seconds);
    }
    const shown = (values) => `${median(values).toFixed(3)} s`;
    console.log(`| ${count} | ${shown(puts)} | ${shown(patches)} | ${shown(gets)} |`);
  }
} finally {
  await server.stop();
}
