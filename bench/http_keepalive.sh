#!/usr/bin/env bash
# The settings page over HTTP to 32 keep-alive clients (wrk, 2 threads, 10 s),
# signed in, from the optimised build: prints wrk's latency distribution.
# Usage: bench/http_keepalive.sh [CONNECTIONS] [SECONDS]   (needs wrk and curl)
set -euo pipefail
cd "$(dirname "$0")/.."
connections="${1:-32}"
seconds="${2:-10}"

work=$(mktemp -d)
trap 'kill "$console_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source bench/signed_in_console.sh
start_signed_in_console
wrk -t2 -c"$connections" -d"${seconds}s" --latency -H "Cookie: $cookie" "$origin/scan/WebThreat_Protection.htm"
