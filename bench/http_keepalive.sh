#!/usr/bin/env bash
# The settings page over HTTP to 32 keep-alive clients (wrk, 2 threads, 10 s),
# signed in, from the optimised build: prints wrk's latency distribution.
# Usage: bench/http_keepalive.sh [CONNECTIONS] [SECONDS]   (needs wrk and curl)
set -euo pipefail
cd "$(dirname "$0")/.."
connections="${1:-32}"
seconds="${2:-10}"
console=build/release/bin/tessera-console
command -v wrk >/dev/null || { echo "wrk is missing: apt-get install wrk" >&2; exit 2; }

data=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$data"' EXIT
TESSERA_ADMIN_PASSWORD=bench-password-1 "$console" serve --listen 127.0.0.1:0 --data "$data/var" >"$data/out" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "in a browser" "$data/out" 2>/dev/null && break; sleep 0.05; done
origin=$(sed -n 's/.*open \(http:[^ ]*\)\/ in a browser.*/\1/p' "$data/out")
cookie=$(curl -s -o /dev/null -D - -H "Origin: $origin" --data 'username=admin&password=bench-password-1' \
  "$origin/login" | sed -n 's/^Set-Cookie: \([^;]*\).*/\1/p')
wrk -t2 -c"$connections" -d"${seconds}s" --latency -H "Cookie: $cookie" "$origin/scan/WebThreat_Protection.htm"
