#!/usr/bin/env bash
# Saves of the settings form over HTTP from 32 keep-alive clients (wrk, 2
# threads, 10 s), each client writing its own value to one field, signed in,
# from the optimised build: prints wrk's latency distribution. Every save is
# one store transaction; writers take turns. With TESSERA_BENCH_STORE set, on
# that store (an empty postgresql://... database).
# Usage: bench/http_save.sh [CONNECTIONS] [SECONDS]   (needs wrk and curl)
set -euo pipefail
cd "$(dirname "$0")/.."
connections="${1:-32}"
seconds="${2:-10}"

work=$(mktemp -d)
trap 'kill "$console_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source bench/signed_in_console.sh
start_signed_in_console
cat >"$work/save.lua" <<LUA
local counter = 0
request = function()
  counter = counter + 1
  return wrk.format("POST", "/scan/WebThreat_Protection.htm", {
    ["Cookie"] = "$cookie", ["Origin"] = "$origin",
    ["Content-Type"] = "application/x-www-form-urlencoded" },
    "FormAction=save&txtPolicyInstanceId=URL_FILTER&txtDeliverAct_Replace=saved-" .. counter)
end
done = function(summary, latency, requests)
  io.write(string.format("non-2xx or errors: %d\n", summary.errors.status + summary.errors.connect +
    summary.errors.read + summary.errors.write + summary.errors.timeout))
end
LUA
wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/save.lua" "$origin"
