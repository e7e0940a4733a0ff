#!/usr/bin/env bash
# The small settings page over HTTP: the console (signed in) against nginx
# serving the same page bytes from a file, with the same wrk load (2 threads,
# 32 keep-alive connections). The two take turns, ROUNDS times SECONDS each,
# since this machine's speed drifts within minutes: each round's share compares
# two runs side by side, and the median of the rounds is the figure.
# Usage: bench/http_vs_nginx.sh [SECONDS [ROUNDS]]
# Needs wrk, curl and nginx (apt-get install wrk nginx-light).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-4}"
rounds="${2:-5}"
for tool in wrk curl nginx; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
done

work=$(mktemp -d)
cleanup() {
  [[ -n "${console_pid:-}" ]] && kill "$console_pid" 2>/dev/null
  [[ -f "$work/nginx.pid" ]] && kill "$(cat "$work/nginx.pid")" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

source bench/signed_in_console.sh
start_signed_in_console
mkdir -p "$work/www/scan"
curl -s -H "Cookie: $cookie" -o "$work/www/scan/WebThreat_Protection.htm" "$origin/scan/WebThreat_Protection.htm"

port=$((20000 + RANDOM % 20000))
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    default_type text/html;
  }
}
CONF
# nginx's workers drop root's rights: they must be able to read the page.
chmod 755 "$work"
nginx -c "$work/nginx.conf" -p "$work"
sleep 0.3
for url in "$origin/scan/WebThreat_Protection.htm" "http://127.0.0.1:$port/scan/WebThreat_Protection.htm"; do
  status=$(curl -s -o /dev/null -w '%{http_code}' -H "Cookie: $cookie" "$url")
  [[ "$status" == 200 ]] || { echo "$url answers $status, not 200" >&2; exit 1; }
done

rate() { wrk -t2 -c32 -d"${seconds}s" "$@" | sed -n 's/^Requests\/sec: *//p'; }
echo "page: $(stat -c %s "$work/www/scan/WebThreat_Protection.htm") bytes"
shares=()
for round in $(seq "$rounds"); do
  console_rate=$(rate -H "Cookie: $cookie" "$origin/scan/WebThreat_Protection.htm")
  nginx_rate=$(rate "http://127.0.0.1:$port/scan/WebThreat_Protection.htm")
  share=$(python3 -c "import sys; print('%.1f' % (100 * float(sys.argv[1]) / float(sys.argv[2])))" \
    "$console_rate" "$nginx_rate")
  shares+=("$share")
  echo "round $round: console $console_rate requests/s, nginx $nginx_rate requests/s, console / nginx $share%"
done
python3 -c "import statistics, sys; print('console / nginx, median of %d rounds: %.1f%%' % (len(sys.argv) - 1, statistics.median(map(float, sys.argv[1:]))))" \
  "${shares[@]}"
